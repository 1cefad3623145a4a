#pragma once

#include <QApplication>

#include "ui/dialog.h"
#include "ui/qt_message_box.h"

class QSocketNotifier;

namespace lyr {

// The application object. Qt needs it constructed in main() with the command line, so it is
// not a global as on Windows; there is still exactly one.
class CLyrSampleApp : public QApplication {
  public:
    CLyrSampleApp(int& argc, char** argv);
    ~CLyrSampleApp() override;
    CLyrSampleApp(const CLyrSampleApp&) = delete;
    CLyrSampleApp& operator=(const CLyrSampleApp&) = delete;

    // Runs the main window modally; returns false so that the process ends when it closes.
    virtual bool InitInstance();
    virtual int ExitInstance();

    // InitInstance, then ExitInstance: the process's exit code.
    int Run();

  private:
    // SIGINT and SIGTERM (Ctrl-C in a terminal, the end of a session) end the main window as its
    // closing does, but also during a run: the run is stopped and the settings are saved. The
    // handler only writes to a pipe; the notifier acts on the user-interface thread.
    void InstallTerminationHandler();
    void OnTerminationRequest();

    CQtMessageBox m_messageBox;
    CDialog* m_pMainWnd = nullptr;               // the main window while it runs; not owned
    QSocketNotifier* m_pTermNotifier = nullptr;  // owned by the application (Qt parent)
};

}  // namespace lyr
