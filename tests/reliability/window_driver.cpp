// The main window in a process of its own, as lyrlogger runs it, with what an operator would do
// scripted on the command line, so tests can kill it, or run two of them on one port:
//
//   reliability_window_driver <settings file> [--start] [--run-ms N]
//
// --start presses Start once the window is up; --run-ms presses Stop N ms after that and ends
// the program as closing the window does (settings saved). Without --run-ms it runs until
// killed. Every message box is answered with OK at once and printed as "BOX <text>"; the run
// state is printed as "STATE running" / "STATE idle" whenever it changes.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QApplication>
#include <QString>
#include <QTimer>

#include "platform/message_box.h"
#include "ui/lyr_sample_dlg.h"

namespace {

class PrintingMessageBox final : public lyr::IMessageBox {
  public:
    int Show(const QString& text, unsigned /*type*/) override {
        std::printf("BOX %s\n", text.toUtf8().constData());
        std::fflush(stdout);
        return lyr::IDOK;
    }
};

void PrintState(bool running) {
    std::printf("STATE %s\n", running ? "running" : "idle");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const QString settings = QString::fromLocal8Bit(argv[1]);
    bool start = false;
    int runMs = -1;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--start") == 0) start = true;
        if (std::strcmp(argv[i], "--run-ms") == 0 && i + 1 < argc) runMs = std::atoi(argv[++i]);
    }

    QApplication app(argc, argv);
    PrintingMessageBox box;
    lyr::SetMessageBox(&box);
    int result = 0;
    {
        lyr::CLyrSampleDlg dlg(settings);
        if (!dlg.Create()) return 3;
        std::printf("READY\n");
        std::fflush(stdout);

        bool running = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            const bool now = dlg.m_pMeasThread != nullptr;
            if (now != running) PrintState(running = now);
        });
        watch.start(20);

        if (start) {
            QTimer::singleShot(0, [&] {
                dlg.OnBnClickedStart();
                PrintState(running = dlg.m_pMeasThread != nullptr);
                if (runMs < 0) return;
                QTimer::singleShot(runMs, [&] {
                    dlg.OnBnClickedStop();
                    dlg.DestroyWindow();  // waits for the thread, saves the settings
                    PrintState(running = false);
                    app.quit();
                });
            });
        }
        result = app.exec();
    }
    lyr::SetMessageBox(nullptr);
    std::printf("EXIT\n");
    std::fflush(stdout);
    return result;
}
