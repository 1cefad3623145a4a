// Soak: one interval run of the real main window (offscreen) at full speed (interval 0.0) into a
// text file, against the simulated meter at 115200 baud, for a given number of captures
// (default 100 000). Prints the resident memory (VmRSS) at the start, every 10 000 captures and
// at the end; the goal is a flat line. At the end the log is checked: every capture once.
//
//   soak_bench [captures]
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/message_box.h"
#include "record/profile.h"
#include "res/resource.h"
#include "sim/meter_simulator.h"
#include "ui/lyr_sample_dlg.h"

namespace {

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

class PrintingMessageBox final : public lyr::IMessageBox {
  public:
    int Show(const QString& text, unsigned) override {
        std::printf("message box: %s\n", text.toUtf8().constData());
        ++shown;
        return lyr::IDOK;
    }
    int shown = 0;
};

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // A virtual port directory of its own: the soak's meter is never in anyone else's port list.
    std::string runtime = "/tmp/lyr-soak-XXXXXX";
    if (::mkdtemp(runtime.data()) != nullptr) ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    const long captures = argc > 1 ? std::atol(argv[1]) : 100000;
    if (captures < 1 || captures > 2000000000) return 2;
    QApplication app(argc, argv);
    PrintingMessageBox box;
    lyr::SetMessageBox(&box);

    QTemporaryDir dir;
    lyr::sim::SimConfig config;
    config.baudRate = 115200;
    lyr::sim::MeterSimulator meter(config);
    if (!dir.isValid() || !meter.Start()) return 3;
    const QString settings = dir.filePath("LyrSample.ini");
    {
        lyr::CIniProfile ini(settings);
        const struct {
            const char* section;
            const char* key;
            QString value;
        } keys[] = {
            {"COMM", "ComNo", meter.PortName()},
            {"COMM", "BaudRate", "115200"},
            {"SAVE", "SaveDataIndex", "1"},
            {"SAVE", "SaveDate", "1"},
            {"SAVE", "SaveTime", "1"},
            {"SAVE", "SaveJudge", "1"},
            {"SAVE", "SaveTemp", "0"},
            {"FILE_TYPE", "CsvEnable", "0"},
            {"FILE_TYPE", "FileDir", dir.path()},
            {"LOG_TYPE", "LogType", "2"},
            {"LOG_TYPE", "LogInterval", "0"},
            {"LOG_TYPE", "LogLimit", QString::number(captures)},
        };
        for (const auto& k : keys)
            if (!ini.WriteProfileString(k.section, k.key, k.value)) return 4;
    }

    int result = 0;
    {
        lyr::CLyrSampleDlg dlg(settings);
        if (!dlg.Create()) return 5;
        std::printf("soak: %ld captures, interval 0.0 s, text file, simulator at 115200 baud\n",
                    captures);
        std::printf("goal: VmRSS flat (no growth beyond noise) from the first 10 000 on\n");
        std::printf("%10s %10s %12s\n", "captures", "seconds", "VmRSS KiB");
        QElapsedTimer clock;
        clock.start();
        std::printf("%10d %10.1f %12ld\n", 0, 0.0, ResidentKiB());
        std::fflush(stdout);

        // Every 10 000 captures; a shorter soak still prints ten points.
        const long step = std::min<long>(10000, std::max<long>(1, captures / 10));
        long nextMark = step;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            // The frame caption numbers the reading on display: "Measurement Value No.<n>".
            const QString caption = dlg.GetDlgItemText(lyr::IDC_GROUP_VALUE);
            const qsizetype at = caption.lastIndexOf(QLatin1String("No."));
            const long shown = at < 0 ? 0 : caption.mid(at + 3).toLong();
            // The simulator keeps every line it received for tests to inspect; that record is
            // the bench's, not the program's, and is emptied so it does not count.
            meter.ClearReceived();
            while (shown >= nextMark && nextMark < captures) {
                std::printf("%10ld %10.1f %12ld\n", nextMark, clock.elapsed() / 1000.0,
                            ResidentKiB());
                std::fflush(stdout);
                nextMark += step;
            }
            if (!dlg.m_pMeasThread) app.quit();  // the run has ended by itself (its limit)
        });
        dlg.OnBnClickedStart();
        if (!dlg.m_pMeasThread) return 6;
        watch.start(20);
        app.exec();
        const double seconds = clock.elapsed() / 1000.0;
        std::printf("%10ld %10.1f %12ld   (end)\n", captures, seconds, ResidentKiB());

        // Every capture once, in order.
        QFile log(dlg.m_strFilePath);
        long lines = 0;
        long wrong = 0;
        if (log.open(QIODevice::ReadOnly)) {
            while (!log.atEnd()) {
                const QByteArray line = log.readLine();
                ++lines;
                if (line.left(line.indexOf(',')).toLong() != lines || !line.endsWith("\r\n"))
                    ++wrong;
            }
        }
        std::printf("log: %ld lines, %ld out of place (goal: %ld lines, 0)\n", lines, wrong,
                    captures);
        std::printf("rate: %.1f captures/s (the 10 ms interval timer bounds it near 100/s)\n",
                    captures / seconds);
        std::printf("message boxes: %d (goal: 0)\n", box.shown);
        if (lines != captures || wrong != 0 || box.shown != 0) result = 1;
        dlg.DestroyWindow();
    }
    lyr::SetMessageBox(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(runtime, ignored);
    return result;
}
