#include "ui/lyr_sample_app.h"

#include <QIcon>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "res/version.h"
#include "ui/dialog.h"
#include "ui/lyr_sample_dlg.h"

namespace lyr {

namespace {
// Written by the signal handler, read by the notifier: [0] read end, [1] write end.
int g_termPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_termPipe[1], &byte, 1);
}
}  // namespace

CLyrSampleApp::CLyrSampleApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromUtf8(res::kProductName));
    setApplicationVersion(QString::fromUtf8(res::kVersionText));
    setWindowIcon(ProgramIcon());
    SetMessageBox(&m_messageBox);
    InstallTerminationHandler();
}

void CLyrSampleApp::InstallTerminationHandler() {
    if (::pipe2(g_termPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    m_pTermNotifier = new QSocketNotifier(g_termPipe[0], QSocketNotifier::Read, this);
    connect(m_pTermNotifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(g_termPipe[0], bytes, sizeof bytes) > 0) {
        }
        OnTerminationRequest();
    });
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // The office is reached over a pipe: when the user's office dies mid-run, the next write
    // to the bridge must fail as an error the spreadsheet link reports, not end LyrLogger.
    ::signal(SIGPIPE, SIG_IGN);
}

void CLyrSampleApp::OnTerminationRequest() {
    // DoModal's teardown (DestroyWindow) stops a run and saves the settings.
    if (m_pMainWnd != nullptr)
        m_pMainWnd->EndDialog(IDCANCEL);
    else
        quit();
}

CLyrSampleApp::~CLyrSampleApp() { SetMessageBox(nullptr); }

bool CLyrSampleApp::InitInstance() {
    CLyrSampleDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return false;
}

int CLyrSampleApp::ExitInstance() { return 0; }

int CLyrSampleApp::Run() {
    if (!InitInstance()) return ExitInstance();
    return exec();
}

}  // namespace lyr
