// Figures of the whole program: how long a start takes until the main window is on the screen,
// and how many captures per second an interval run at 0.0 s takes through the window, the
// measurement thread, the link and the text log, against the simulator at 115200 baud.
//
//   ui_bench [captures]      (default 500)
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstdlib>

#include "link/meter_comm.h"
#include "platform/message_box.h"
#include "record/profile.h"
#include "res/resource.h"
#include "sim/meter_simulator.h"
#include "ui/lyr_sample_dlg.h"

namespace {

using namespace lyr;

// The pause OnInitDialog makes before the first exchange; not part of the start-up cost.
constexpr double kInitPauseMs = 1000.0;

// Child process: start the window and say when it is shown.
int StartupChild(const QString& settingsPath) {
    CLyrSampleDlg dlg(settingsPath);
    dlg.Create();
    if (!QTest::qWaitForWindowExposed(&dlg, 10000)) return 1;
    std::printf("shown\n");
    std::fflush(stdout);
    dlg.DestroyWindow();
    return 0;
}

class QuietBox final : public IMessageBox {
  public:
    int Show(const QString& text, unsigned) override {
        std::fprintf(stderr, "message: %s\n", text.toLocal8Bit().constData());
        return IDOK;
    }
};

double StartupMs(const QString& program, const QString& settingsPath) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    child.start(program, {QStringLiteral("--startup-child"), settingsPath});
    if (!child.waitForStarted(10000)) return -1;
    while (!child.canReadLine()) {
        if (!child.waitForReadyRead(15000)) return -1;
    }
    const double ms = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    child.waitForFinished(15000);
    return ms - kInitPauseMs;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QuietBox box;
    SetMessageBox(&box);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == QLatin1String("--startup-child"))
        return StartupChild(args[2]);
    const unsigned captures = args.size() >= 2 ? args[1].toUInt() : 500u;

    QTemporaryDir dir;
    const QString settingsPath = dir.filePath(QStringLiteral("LyrSample.ini"));

    // Start-up, with no office running and no settings file, five times.
    double best = 1e9, sum = 0;
    constexpr int kStarts = 5;
    for (int i = 0; i < kStarts; ++i) {
        QFile::remove(settingsPath);
        const double ms = StartupMs(app.applicationFilePath(), settingsPath);
        if (ms < 0) {
            std::fprintf(stderr, "start-up child failed\n");
            return 1;
        }
        best = std::min(best, ms);
        sum += ms;
    }
    std::printf(
        "start-up to main window shown (less the 1000 ms pause): best %.0f ms, mean %.0f ms"
        " over %d starts   (goal: <= 500 ms)\n",
        best, sum / kStarts, kStarts);

    // Interval run at 0.0 s, text log, simulator at 115200 baud pacing its bytes at wire speed.
    sim::SimConfig config;
    config.baudRate = 115200;
    config.pace = true;
    sim::MeterSimulator meter(config);
    if (!meter.Start()) {
        std::fprintf(stderr, "simulator did not start\n");
        return 1;
    }
    {
        CIniProfile ini(settingsPath);
        QFile::remove(settingsPath);
        const struct {
            const char* section;
            const char* key;
            QString value;
        } settings[] = {
            {"COMM", "ComNo", meter.PortName()},
            {"COMM", "BaudRate", QStringLiteral("115200")},
            {"FILE_TYPE", "CsvEnable", QStringLiteral("0")},
            {"FILE_TYPE", "FileDir", dir.path()},
            {"LOG_TYPE", "LogType", QStringLiteral("2")},
            {"LOG_TYPE", "LogInterval", QStringLiteral("0")},
            {"LOG_TYPE", "LogLimit", QString::number(captures)},
        };
        for (const auto& s : settings) (void)ini.WriteProfileString(s.section, s.key, s.value);
    }
    CLyrSampleDlg dlg(settingsPath);
    dlg.Create();
    if (!QTest::qWaitForWindowExposed(&dlg)) return 1;
    const QString logPath = dlg.m_strFilePath;
    QElapsedTimer run;
    run.start();
    dlg.GetButton(IDC_BUTTON_START)->click();
    if (!dlg.m_pMeasThread) {
        std::fprintf(stderr, "the run did not start\n");
        return 1;
    }
    // From the first reading on: the run's own rate, without its start (identification, the
    // meter's set-up pause) and its stop.
    const QString first = QStringLiteral("Measurement Value No.1");
    if (!QTest::qWaitFor([&] { return dlg.GetDlgItemText(IDC_GROUP_VALUE) == first; }, 30000)) {
        std::fprintf(stderr, "no reading came\n");
        return 1;
    }
    const qint64 firstNs = run.nsecsElapsed();
    if (!QTest::qWaitFor([&] { return !dlg.m_pMeasThread; }, 600000)) return 1;
    const double seconds = static_cast<double>(run.nsecsElapsed()) / 1e9;
    const double steadySeconds = static_cast<double>(run.nsecsElapsed() - firstNs) / 1e9;
    QFile log(logPath);
    qsizetype lines = 0;
    if (log.open(QIODevice::ReadOnly)) lines = log.readAll().count('\n');
    std::printf(
        "interval run at 0.0 s to a text file, 115200 baud: %lld captures in %.2f s from "
        "Start to idle = %.1f captures/s; from the first reading on %.1f captures/s   "
        "(bound: 100/s, the 10 ms timer)\n",
        static_cast<long long>(lines), seconds, static_cast<double>(lines) / seconds,
        static_cast<double>(lines - 1) / steadySeconds);
    dlg.DestroyWindow();
    SetMessageBox(nullptr);
    return lines == static_cast<qsizetype>(captures) ? 0 : 1;
}
