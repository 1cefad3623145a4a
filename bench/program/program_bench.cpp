// Figures of the whole program: the real main window (offscreen), measurement thread, link and
// text log against the meter simulator pacing its bytes at the wire speed.
//
//   program_bench interval <baud> <captures> [--no-query-pace]
//       An interval run at 0.0 s to a text file: captures per second beside the bound
//       min(100/s, 1 / wire time of one fetch and its reply), and the time from a reply being
//       complete to its line being written to the file, p50 and p99.
//   program_bench trigger-wait <seconds> <zorva-sim>
//       The CPU time of the whole program while an external-trigger run waits for a trigger
//       that never comes (the meter is a zorva-sim process of its own, so its time is not
//       counted), with the threads that spent it.
//   program_bench calc <rows> [--no-date-time] [--baud <baud>]
//       The same interval run (115200 baud unless told) into a real LibreOffice Calc (an office
//       on a profile and an Xvfb of the bench's own): rows per second, beside the 100/s of the
//       interval timer. At 9600 baud the next tick is always due when a row is written, so the
//       program's part of a cycle, less that of a text run, is what one row costs.
//   program_bench serve <baud>
//       A simulated meter behind the same wire relay, for a peer program: prints the port,
//       serves until standard input closes.
//
// How the latency is measured, from outside the program: the simulator's replies pass through
// a relay of ours (bench/program/wire_relay.h) that notes when the last byte of each reply to a
// fetch query reached the program's pty; inotify tells when the log file grows. The program
// itself carries no timing code. The relay also makes the fetch query take its wire time before
// the meter sees it, which the simulator alone does not (it paces only its own bytes).

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>
#include <ctime>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "bench/program/wire_relay.h"
#include "platform/message_box.h"
#include "record/profile.h"
#include "res/resource.h"
#include "sim/meter_simulator.h"
#include "ui/lyr_sample_dlg.h"

#ifdef LYR_BENCH_WITH_CALC
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/text/XTextRange.hpp>

#include "record/calc/calc_server.h"
#include "record/calc/calc_uno.h"
#include "tests/record/calc/test_office.h"
#endif

namespace {

using namespace lyr;
using Clock = std::chrono::steady_clock;

class QuietBox final : public IMessageBox {
  public:
    int Show(const QString& text, unsigned) override {
        std::fprintf(stderr, "message box: %s\n", qPrintable(text));
        ++shown;
        return IDOK;
    }
    int shown = 0;
};

// Runs the event loop, as the program's own loop does, until `done` holds or the time is up.
// The condition is looked at every 50 ms; nothing else is added to the window's thread.
bool RunEventLoopUntil(const std::function<bool()>& done, int timeoutMs) {
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    bool timedOut = false;
    QTimer::singleShot(timeoutMs, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    poll.start();
    if (!done()) loop.exec();
    return !timedOut || done();
}

// Runs the event loop for `ms` with nothing of the bench's own on the window's thread.
void RunEventLoopFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Setting {
    const char* section;
    const char* key;
    QString value;
};
bool WriteSettings(const QString& path, std::initializer_list<Setting> settings) {
    QFile::remove(path);
    CIniProfile ini(path);
    for (const Setting& s : settings)
        if (!ini.WriteProfileString(s.section, s.key, s.value)) return false;
    return true;
}

// The times at which lines appeared in one file, seen through inotify: every write() of the
// log makes one IN_MODIFY; the new bytes are read at once and each CR LF found is one line.
class LineWatch {
  public:
    LineWatch(const QString& directory, const QString& fileName)
        : m_path(directory + u'/' + fileName), m_name(fileName.toLocal8Bit()) {
        m_inotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_inotify >= 0)
            (void)::inotify_add_watch(m_inotify, directory.toLocal8Bit().constData(),
                                      IN_MODIFY | IN_CREATE);
        m_thread = std::thread([this] { Run(); });
    }
    ~LineWatch() {
        m_stop = true;
        (void)::eventfd_write(m_wake, 1);
        m_thread.join();
        for (int fd : {m_inotify, m_wake, m_file})
            if (fd >= 0) ::close(fd);
    }
    LineWatch(const LineWatch&) = delete;
    LineWatch& operator=(const LineWatch&) = delete;

    [[nodiscard]] std::vector<Clock::time_point> Times() const {
        std::lock_guard lock(m_mutex);
        return m_times;
    }
    [[nodiscard]] std::size_t Count() const {
        std::lock_guard lock(m_mutex);
        return m_times.size();
    }

  private:
    void Run() {
        alignas(inotify_event) std::array<char, 8192> events{};
        std::array<char, 65536> bytes{};
        while (!m_stop) {
            std::array<pollfd, 2> fds{{{m_inotify, POLLIN, 0}, {m_wake, POLLIN, 0}}};
            if (::poll(fds.data(), fds.size(), 1000) <= 0) continue;
            if (!(fds[0].revents & POLLIN)) continue;
            const Clock::time_point now = Clock::now();
            const ssize_t got = ::read(m_inotify, events.data(), events.size());
            bool ours = false;
            for (ssize_t at = 0; at < got;) {
                const auto* e = reinterpret_cast<const inotify_event*>(events.data() + at);
                if (e->len > 0 && m_name == e->name) ours = true;
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
            if (!ours) continue;
            if (m_file < 0) m_file = ::open(m_path.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
            if (m_file < 0) continue;
            for (;;) {
                const ssize_t n = ::read(m_file, bytes.data(), bytes.size());
                if (n <= 0) break;
                std::lock_guard lock(m_mutex);
                for (ssize_t i = 0; i < n; ++i)
                    if (bytes[i] == '\n') m_times.push_back(now);
            }
        }
    }

    QString m_path;
    QByteArray m_name;
    int m_inotify = -1;
    int m_wake = -1;
    int m_file = -1;  // the watch thread's own reading descriptor
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;  // protects m_times
    std::vector<Clock::time_point> m_times;
};

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const auto at =
        static_cast<std::size_t>(p / 100.0 * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(at, values.size() - 1)];
}

double Mean(const std::vector<double>& values) {
    double sum = 0;
    for (double v : values) sum += v;
    return values.empty() ? 0.0 : sum / static_cast<double>(values.size());
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// ---- interval -------------------------------------------------------------------------------

int IntervalRun(quint32 baud, unsigned captures, bool paceQueries) {
    QTemporaryDir dir;
    const QString settingsPath = dir.filePath(QStringLiteral("LyrSample.ini"));
    sim::SimConfig config;
    config.baudRate = baud;
    config.pace = true;
    sim::MeterSimulator meter(config);
    if (!meter.Start()) {
        std::fprintf(stderr, "simulator did not start\n");
        return 1;
    }
    bench::WireRelay relay(meter.PortName(), baud, paceQueries);
    if (!relay.Start()) {
        std::fprintf(stderr, "relay did not start\n");
        return 1;
    }
    // The operator's usual columns: number, date, time and judgement (the defaults).
    if (!WriteSettings(settingsPath, {{"COMM", "ComNo", relay.PortName()},
                                      {"COMM", "BaudRate", QString::number(baud)},
                                      {"FILE_TYPE", "CsvEnable", QStringLiteral("0")},
                                      {"FILE_TYPE", "FileDir", dir.path()},
                                      {"LOG_TYPE", "LogType", QStringLiteral("2")},
                                      {"LOG_TYPE", "LogInterval", QStringLiteral("0")},
                                      {"LOG_TYPE", "LogLimit", QString::number(captures)}}))
        return 1;

    CLyrSampleDlg dlg(settingsPath);
    dlg.Create();
    if (!QTest::qWaitForWindowExposed(&dlg)) return 1;
    const QFileInfo log(dlg.m_strFilePath);
    LineWatch watch(log.absolutePath(), log.fileName());
    dlg.GetButton(IDC_BUTTON_START)->click();
    if (!dlg.m_pMeasThread) {
        std::fprintf(stderr, "the run did not start\n");
        return 1;
    }
    const int timeoutMs = 60000 + static_cast<int>(captures) * 100;
    if (!RunEventLoopUntil([&] { return !dlg.m_pMeasThread; }, timeoutMs)) {
        std::fprintf(stderr, "the run did not end in %d ms\n", timeoutMs);
        return 1;
    }
    // The last line's event may still be on its way to the watch.
    RunEventLoopUntil([&] { return watch.Count() >= captures; }, 2000);
    const std::vector<Clock::time_point> lines = watch.Times();
    const std::vector<Clock::time_point> replies = relay.FetchReplyTimes();
    const std::vector<Clock::time_point> queries = relay.FetchQueryTimes();
    dlg.DestroyWindow();

    if (lines.size() < 2 || replies.size() < lines.size()) {
        std::fprintf(stderr, "%zu lines, %zu replies: no figure\n", lines.size(), replies.size());
        return 1;
    }
    const double seconds = std::chrono::duration<double>(lines.back() - lines.front()).count();
    const double rate = static_cast<double>(lines.size() - 1) / seconds;
    const int wireBytes = relay.FetchQueryBytes() + relay.FetchReplyBytes();
    const double wireMs = wireBytes * 10.0 * 1000.0 / baud;
    const double bound = std::min(100.0, 1000.0 / wireMs);
    std::printf(
        "interval run at 0.0 s to a text file, %6u baud: %6.1f captures/s (%zu captures over "
        "%.1f s)   bound %.1f/s = min(100/s timer, 1 / %.2f ms wire time of fetch + reply, %d "
        "bytes)   %.1f %% of the bound   (goal >= 95 %%)%s\n",
        baud, rate, lines.size(), seconds, bound, wireMs, wireBytes, 100.0 * rate / bound,
        paceQueries ? "" : "   [query not paced]");
    // The same from the median time between two lines: what the program does when the rest
    // of the machine leaves it alone (a shared machine stalls the odd cycle by far more).
    std::vector<double> gaps;
    for (std::size_t k = 1; k < lines.size(); ++k) gaps.push_back(Ms(lines[k] - lines[k - 1]));
    const double typical = 1000.0 / Percentile(gaps, 50);
    std::printf(
        "    from the median time between lines (%.2f ms; the longest %.1f ms): %.1f captures/s, "
        "%.1f %% of the bound\n",
        Percentile(gaps, 50), *std::max_element(gaps.begin(), gaps.end()), typical,
        100.0 * typical / bound);

    // The measurement thread sleeps 1 ms after every pass, the pass that posts a reading
    // included, and sees a reply's end on average half a pass after it came.
    const double passBound = std::min(100.0, 1000.0 / (wireMs + 1.5));
    std::printf(
        "    with the thread's 1 ms passes (1 ms after the posting pass, a reply seen half a "
        "pass late on average): bound %.1f/s; %.1f %% of it, from the median %.1f %%\n",
        passBound, 100.0 * rate / passBound, 100.0 * typical / passBound);

    // Reading k's line belongs to the k-th reply: every reading of an interval run is captured.
    std::vector<double> latency;
    latency.reserve(lines.size());
    for (std::size_t k = 0; k < lines.size(); ++k) latency.push_back(Ms(lines[k] - replies[k]));
    std::printf(
        "reply complete -> line in the file, %6u baud: p50 %.2f ms, p99 %.2f ms, max %.2f ms "
        "over %zu captures   (goal: p99 <= 5 ms)\n",
        baud, Percentile(latency, 50), Percentile(latency, 99),
        *std::max_element(latency.begin(), latency.end()), latency.size());

    // Where a cycle's time goes: on the program's side from a reply being complete to the next
    // fetch query written; on the meter's side from the query written to its reply complete.
    std::vector<double> programMs;
    std::vector<double> meterMs;
    for (std::size_t k = 0; k + 1 < replies.size() && k + 1 < queries.size(); ++k) {
        programMs.push_back(Ms(queries[k + 1] - replies[k]));
        meterMs.push_back(Ms(replies[k] - queries[k]));
    }
    std::printf(
        "    one cycle, %6u baud: program (reply complete -> next fetch written) p50 %.2f ms, "
        "p99 %.2f ms, mean %.2f ms; wire and meter (fetch written -> reply complete) p50 %.2f "
        "ms, p99 %.2f ms\n",
        baud, Percentile(programMs, 50), Percentile(programMs, 99), Mean(programMs),
        Percentile(meterMs, 50), Percentile(meterMs, 99));
    std::fflush(stdout);
    return lines.size() == captures ? 0 : 1;
}

// ---- trigger-wait ---------------------------------------------------------------------------

double ProcessCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct ThreadCpu {
    QString name;
    double seconds;
};
// CPU time of each thread of this process, from the scheduler's own count (nanoseconds).
std::map<int, ThreadCpu> ThreadCpuTimes() {
    std::map<int, ThreadCpu> out;
    for (const QString& tid : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs)) {
        bool ok = false;
        const int id = tid.toInt(&ok);
        if (!ok) continue;
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(id));
        QFile stat(QStringLiteral("/proc/self/task/%1/schedstat").arg(id));
        if (!comm.open(QIODevice::ReadOnly) || !stat.open(QIODevice::ReadOnly)) continue;
        const QByteArray name = comm.readAll().trimmed();
        const double ns = stat.readAll().split(' ').value(0).toDouble();
        out[id] = {QString::fromLocal8Bit(name) + (id == ::getpid() ? " (window)" : ""), ns / 1e9};
    }
    return out;
}

int TriggerWait(int seconds, const QString& simProgram) {
    QTemporaryDir dir;
    const QString settingsPath = dir.filePath(QStringLiteral("LyrSample.ini"));
    QProcess meter;
    meter.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    meter.start(simProgram,
                {QStringLiteral("--baud"), QStringLiteral("115200"), QStringLiteral("--pace"),
                 QStringLiteral("--trigger-source"), QStringLiteral("EXT"),
                 QStringLiteral("--name"), QStringLiteral("bench-trigger-%1").arg(::getpid())});
    if (!meter.waitForStarted(10000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(simProgram));
        return 1;
    }
    while (!meter.canReadLine())
        if (!meter.waitForReadyRead(10000)) return 1;
    const QString port = QString::fromLocal8Bit(meter.readLine()).trimmed();

    if (!WriteSettings(settingsPath, {{"COMM", "ComNo", port},
                                      {"COMM", "BaudRate", QStringLiteral("115200")},
                                      {"FILE_TYPE", "CsvEnable", QStringLiteral("0")},
                                      {"FILE_TYPE", "FileDir", dir.path()},
                                      {"LOG_TYPE", "LogType", QStringLiteral("1")}}))
        return 1;
    int status = 0;
    {
        CLyrSampleDlg dlg(settingsPath);
        dlg.Create();
        if (!QTest::qWaitForWindowExposed(&dlg)) return 1;
        dlg.GetButton(IDC_BUTTON_START)->click();
        if (!dlg.m_pMeasThread) {
            std::fprintf(stderr, "the run did not start\n");
            return 1;
        }
        // The set-up exchange and the read query are over well within this.
        RunEventLoopFor(1500);
        const auto threadsBefore = ThreadCpuTimes();
        const double cpuBefore = ProcessCpuSeconds();
        const Clock::time_point start = Clock::now();
        RunEventLoopFor(seconds * 1000);
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        const double cpu = ProcessCpuSeconds() - cpuBefore;
        const auto threadsAfter = ThreadCpuTimes();
        const bool stillWaiting =
            dlg.m_pMeasThread != nullptr && dlg.GetDlgItemText(IDC_GROUP_VALUE).indexOf(u"No.") < 0;
        dlg.DestroyWindow();

        std::printf(
            "waiting for an external trigger that never comes: whole program %.3f s CPU over %.1f "
            "s = %.2f %% of one core   (goal <= 0.5 %%)%s\n",
            cpu, wall, 100.0 * cpu / wall, stillWaiting ? "" : "   [the run did not wait]");
        QStringList parts;
        for (const auto& [tid, after] : threadsAfter) {
            const auto before = threadsBefore.find(tid);
            const double spent =
                after.seconds - (before != threadsBefore.end() ? before->second.seconds : 0.0);
            if (spent * 1e4 >= wall)
                parts << QStringLiteral("%1 %2 %")
                             .arg(after.name)
                             .arg(100.0 * spent / wall, 0, 'f', 2);
        }
        std::printf("    by thread: %s\n", qPrintable(parts.join(QStringLiteral(", "))));
        // What the measurement thread's specified pass (a 1 ms sleep after every pass) costs
        // by itself on this machine: a bare loop of 1 ms sleeps.
        const double floorSeconds = std::min(seconds, 5);
        double floorCpu = 0;
        int passes = 0;
        std::thread([&] {
            const Clock::time_point until =
                Clock::now() + std::chrono::milliseconds(static_cast<int>(floorSeconds * 1000));
            timespec begin{};
            ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &begin);
            while (Clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                ++passes;
            }
            timespec end{};
            ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
            floorCpu = static_cast<double>(end.tv_sec - begin.tv_sec) +
                       static_cast<double>(end.tv_nsec - begin.tv_nsec) / 1e9;
        }).join();
        std::printf(
            "    floor: a bare loop of 1 ms sleeps here costs %.2f %% of one core (%.0f passes/s, "
            "%.1f us each)\n",
            100.0 * floorCpu / floorSeconds, passes / floorSeconds, 1e6 * floorCpu / passes);
        std::fflush(stdout);
        if (!stillWaiting) status = 1;
    }
    meter.terminate();
    meter.waitForFinished(5000);
    return status;
}

// ---- calc ------------------------------------------------------------------------------------

#ifdef LYR_BENCH_WITH_CALC
// The text of one cell of the active sheet of the office's Calc document; empty when none.
QString ActiveSheetCell(const css::uno::Reference<css::uno::XComponentContext>& ctx, int column,
                        int row) {
    using css::uno::Reference;
    using css::uno::UNO_QUERY;
    using css::uno::UNO_QUERY_THROW;
    try {
        auto components = css::frame::Desktop::create(ctx)->getComponents()->createEnumeration();
        while (components->hasMoreElements()) {
            Reference<css::lang::XServiceInfo> info(components->nextElement(), UNO_QUERY);
            if (!info.is() || !info->supportsService("com.sun.star.sheet.SpreadsheetDocument"))
                continue;
            Reference<css::frame::XModel> model(info, UNO_QUERY_THROW);
            auto sheet = Reference<css::sheet::XSpreadsheetView>(model->getCurrentController(),
                                                                 UNO_QUERY_THROW)
                             ->getActiveSheet();
            auto cell = Reference<css::table::XCellRange>(sheet, UNO_QUERY_THROW)
                            ->getCellByPosition(column, row);
            return ToQString(Reference<css::text::XTextRange>(cell, UNO_QUERY_THROW)->getString());
        }
    } catch (const css::uno::Exception&) {
    }
    return {};
}

int CalcRun(unsigned rows, bool dateTime, quint32 baud) {
    test::XServer xserver;
    if (xserver.display.isEmpty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    test::TestOffice office;
    office.Kill();
    auto server = CreateCalcAutomationServer(office.LinkOptions());
    if (!server) return 1;
    SetAutomationServer(server.get());

    QTemporaryDir dir;
    const QString settingsPath = dir.filePath(QStringLiteral("LyrSample.ini"));
    sim::SimConfig config;
    config.baudRate = baud;
    config.pace = true;
    sim::MeterSimulator meter(config);
    bench::WireRelay relay(meter.PortName(), baud, true);
    if (!meter.Start() || !relay.Start()) return 1;
    if (!WriteSettings(settingsPath, {{"COMM", "ComNo", relay.PortName()},
                                      {"COMM", "BaudRate", QString::number(baud)},
                                      {"FILE_TYPE", "CsvEnable", QStringLiteral("1")},
                                      {"SAVE", "SaveDate", dateTime ? "1" : "0"},
                                      {"SAVE", "SaveTime", dateTime ? "1" : "0"},
                                      {"FILE_TYPE", "FileDir", dir.path()},
                                      {"LOG_TYPE", "LogType", QStringLiteral("2")},
                                      {"LOG_TYPE", "LogInterval", QStringLiteral("0")},
                                      {"LOG_TYPE", "LogLimit", QString::number(rows)}}))
        return 1;
    int status = 1;
    {
        CLyrSampleDlg dlg(settingsPath);
        dlg.Create();
        if (!QTest::qWaitForWindowExposed(&dlg)) return 1;
        // Start opens the spreadsheet: a first office start on a new profile takes seconds.
        dlg.GetButton(IDC_BUTTON_START)->click();
        const int timeoutMs = 180000 + static_cast<int>(rows) * 100;
        const bool ended =
            dlg.m_pMeasThread && RunEventLoopUntil([&] { return !dlg.m_pMeasThread; }, timeoutMs);
        const std::vector<Clock::time_point> replies = relay.FetchReplyTimes();
        const std::vector<Clock::time_point> queries = relay.FetchQueryTimes();
        dlg.DestroyWindow();
        if (!ended || replies.size() < 2) {
            std::fprintf(stderr, "the spreadsheet run did not complete (%zu readings)\n",
                         replies.size());
        } else {
            // Each reading's row is written before the window acknowledges it, so the readings'
            // pace is the rows' pace.
            const double seconds =
                std::chrono::duration<double>(replies.back() - replies.front()).count();
            const double rate = static_cast<double>(replies.size() - 1) / seconds;
            std::vector<double> programMs;
            for (std::size_t k = 0; k + 1 < replies.size() && k + 1 < queries.size(); ++k)
                programMs.push_back(Ms(queries[k + 1] - replies[k]));
            // The last row, written from the sheet's active cell A1 with the number column first.
            const auto ctx = test::TestOffice::Connect(office.linkPipe);
            const QString last = ActiveSheetCell(ctx, 0, static_cast<int>(rows) - 1);
            const QString after = ActiveSheetCell(ctx, 0, static_cast<int>(rows));
            const bool rowsThere = last == QString::number(rows) && after.isEmpty();
            std::printf(
                "rows into a real Calc through the whole program, %u baud, interval 0.0 s, %s: "
                "%.1f rows/s (%zu rows over %.1f s; bound 100/s, the 10 ms interval timer)   "
                "(goal >= 200/s at one call per row)%s\n",
                baud,
                dateTime ? "number, date, time, value, judgement" : "number, value, judgement",
                rate, replies.size(), seconds,
                rowsThere ? "" : "   [the sheet does not hold the rows]");
            std::vector<double> gaps;
            for (std::size_t k = 1; k < replies.size(); ++k)
                gaps.push_back(Ms(replies[k] - replies[k - 1]));
            std::printf("    from the median time between rows (%.2f ms): %.1f rows/s\n",
                        Percentile(gaps, 50), 1000.0 / Percentile(gaps, 50));
            std::printf(
                "    one cycle: program (reply complete -> next fetch written, row included) p50 "
                "%.2f ms, p99 %.2f ms, mean %.2f ms\n",
                Percentile(programMs, 50), Percentile(programMs, 99), Mean(programMs));
            // Whether the rows get dearer as the sheet fills.
            QStringList quarters;
            const std::size_t q = replies.size() / 4;
            for (std::size_t i = 0; q > 1 && i < 4; ++i) {
                const double s =
                    std::chrono::duration<double>(replies[(i + 1) * q - 1] - replies[i * q])
                        .count();
                quarters << QString::number(static_cast<double>(q - 1) / s, 'f', 1);
            }
            std::printf("    rows/s by quarter of the run: %s\n",
                        qPrintable(quarters.join(QStringLiteral(", "))));
            std::fflush(stdout);
            status = rowsThere && replies.size() == rows ? 0 : 1;
        }
    }
    SetAutomationServer(nullptr);
    office.Kill();
    return status;
}
#endif

// ---- serve ----------------------------------------------------------------------------------

int Serve(quint32 baud) {
    sim::SimConfig config;
    config.baudRate = baud;
    config.pace = true;
    sim::MeterSimulator meter(config);
    if (!meter.Start()) return 1;
    bench::WireRelay relay(meter.PortName(), baud, true);
    if (!relay.Start()) return 1;
    std::printf("%s\n", qPrintable(relay.PortName()));
    std::fflush(stdout);
    std::array<char, 256> buffer{};
    while (::read(0, buffer.data(), buffer.size()) > 0) {
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const QStringList args = [&] {
        QStringList list;
        for (int i = 0; i < argc; ++i) list << QString::fromLocal8Bit(argv[i]);
        return list;
    }();
    const QString mode = args.value(1);
    if (mode == QLatin1String("serve")) {
        QCoreApplication app(argc, argv);
        return Serve(args.value(2, QStringLiteral("9600")).toUInt());
    }

    QApplication app(argc, argv);
    QuietBox box;
    SetMessageBox(&box);
    int status = 2;
    if (mode == QLatin1String("interval")) {
        status = IntervalRun(args.value(2, QStringLiteral("115200")).toUInt(),
                             args.value(3, QStringLiteral("1000")).toUInt(),
                             !args.contains(QStringLiteral("--no-query-pace")));
#ifdef LYR_BENCH_WITH_CALC
    } else if (mode == QLatin1String("calc")) {
        const qsizetype baudAt = args.indexOf(QStringLiteral("--baud"));
        status = CalcRun(args.value(2, QStringLiteral("1000")).toUInt(),
                         !args.contains(QStringLiteral("--no-date-time")),
                         baudAt > 0 ? args.value(baudAt + 1).toUInt() : 115200u);
#endif
    } else if (mode == QLatin1String("trigger-wait")) {
        const QString sim = args.value(
            3, QCoreApplication::applicationDirPath() + QStringLiteral("/../../sim/zorva-sim"));
        status = TriggerWait(args.value(2, QStringLiteral("30")).toInt(), sim);
    } else {
        std::fprintf(stderr,
                     "usage: program_bench interval <baud> <captures> [--no-query-pace]\n"
                     "       program_bench trigger-wait <seconds> [zorva-sim]\n"
                     "       program_bench calc <rows> [--no-date-time] [--baud <baud>]\n"
                     "       program_bench serve <baud>\n");
    }
    SetMessageBox(nullptr);
    return status;
}
