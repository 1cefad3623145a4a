#include "ui/lyr_sample_dlg.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include <algorithm>
#include <climits>
#include <cmath>

#include "link/meter_comm.h"
#include "platform/message_box.h"
#include "platform/tick.h"
#include "record/setting_data.h"
#include "res/dlg_102.h"
#include "res/resource.h"
#include "res/string_table.h"

#if __has_include("ui/set_dialog.h")
#include "ui/set_dialog.h"
#define LYR_HAVE_SET_DIALOG 1
#endif
#if __has_include("ui/comm_test_dlg.h")
#include "ui/comm_test_dlg.h"
#define LYR_HAVE_COMM_TEST_DLG 1
#endif
#if __has_include("ui/about_dlg.h")
#include "ui/about_dlg.h"
#define LYR_HAVE_ABOUT_DLG 1
#endif

namespace lyr {

bool g_bCaptureHold = false;

namespace {

const QString kNoValue = QStringLiteral("-----------");
const QString kNoJudge = QStringLiteral("---");

// The face the layout was drawn for is not on Linux; a narrow sans face keeps the large value
// and the serial line inside their boxes.
const QString kDisplayFace = QStringLiteral("MS UI Gothic");

// Controls and the string of their run-time caption, in the order they are set.
constexpr ControlCaption kCaptions[] = {
    {IDC_GROUP_SAVE_FILE, IDS_SAVE_FILE},
    {IDC_RADIO_SAVE_FILE, IDS_SAVE_TO_FILE},
    {IDC_RADIO_SAVE_EXCEL, IDS_SAVE_TO_EXCEL},
    {IDC_BUTTON_BROWSE, IDS_BROWSE},
    {IDC_GROUP_CAPTURE_METHOD, IDS_CAPTURE_METHOD},
    {IDC_RADIO_CAPTURE_ENTER, IDS_CAPTURE_ENTER_KEY},
    {IDC_RADIO_CAPTURE_TRIGGER, IDS_CAPTURE_EXT_TRIGGER},
    {IDC_RADIO_CAPTURE_INTERVAL, IDS_CAPTURE_INTERVAL},
    {IDC_STATIC_SEC, IDS_SEC},
    {IDC_STATIC_TIMES, IDS_TIMES},
    {IDC_BUTTON_MONITOR, IDS_MONITOR},
    {IDC_BUTTON_START, IDS_START},
    {IDC_BUTTON_CAPTURE, IDS_CAPTURE},
    {IDC_BUTTON_STOP, IDS_STOP},
    {IDC_GROUP_VALUE, IDS_MEASUREMENT_VALUE},
    {IDC_GROUP_JUDGE, IDS_JUDGE},
    {IDC_STATIC_SERIAL, IDS_SERIAL_NONE},
};
static_assert(std::size(kCaptions) == 17);

// Inputs that a run disables, in the order they are switched.
constexpr int kRunInputs[] = {
    IDC_RADIO_SAVE_FILE,        IDC_EDIT_FILE_PATH,      IDC_BUTTON_BROWSE,
    IDC_RADIO_SAVE_EXCEL,       IDC_RADIO_CAPTURE_ENTER, IDC_RADIO_CAPTURE_TRIGGER,
    IDC_RADIO_CAPTURE_INTERVAL, IDC_EDIT_INTERVAL,       IDC_EDIT_TIMES,
};

constexpr unsigned kMenuCommands[] = {ID_MENU_SETTINGS, ID_MENU_COMM_TEST, ID_MENU_ABOUT};

QFont DisplayFont(int pointSize, int weight) {
    QFont f = CDialog::MakeFont(kDisplayFace, pointSize, weight);
    QStringList families = f.families();
    families.insert(families.indexOf(QStringLiteral("DejaVu Sans")),
                    QStringLiteral("DejaVu Sans Condensed"));
    f.setFamilies(families);
    return f;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction, initialisation, captions, shutdown

CLyrSampleDlg::CLyrSampleDlg()
    : CDialog(res::DialogTemplate102()),
      CRecordView(),
      CExcelRecordView(static_cast<const CRecordView&>(*this)) {
    Construct();
}

CLyrSampleDlg::CLyrSampleDlg(const QString& settingsFile)
    : CDialog(res::DialogTemplate102()),
      CRecordView(),
      CExcelRecordView(static_cast<const CRecordView&>(*this)) {
    m_settings = CSettingData(settingsFile);
    Construct();
}

void CLyrSampleDlg::Construct() {
    // The settings record came with CRecordView and the spreadsheet link (whose construction
    // probes the installed version) with CExcelRecordView, in this order. There is no COM to
    // initialise: the Calc connection sets itself up when it is first used.
    m_hIcon = ProgramIcon();
    m_fontLarge = DisplayFont(33, QFont::Bold);
    m_fontSmall = DisplayFont(12, QFont::Normal);
    m_brushWhite = QColor(255, 255, 255);
    m_brushRed = QColor(255, 0, 0);
    m_brushGreen = QColor(0, 255, 0);

    OnBnClicked(IDC_BUTTON_START, [this] { OnBnClickedStart(); });
    OnBnClicked(IDC_BUTTON_STOP, [this] { OnBnClickedStop(); });
    OnBnClicked(IDC_BUTTON_MONITOR, [this] { OnBnClickedMonitor(); });
    OnBnClicked(IDC_BUTTON_CAPTURE, [this] { OnBnClickedCapture(); });
    OnBnClicked(IDC_BUTTON_BROWSE, [this] { OnBnClickedBrowse(); });
    for (int radio : {IDC_RADIO_SAVE_FILE, IDC_RADIO_SAVE_EXCEL, IDC_RADIO_CAPTURE_ENTER,
                      IDC_RADIO_CAPTURE_TRIGGER, IDC_RADIO_CAPTURE_INTERVAL})
        OnBnClicked(radio, [this] { OnBnClickedRadio(); });
    OnBnClicked(static_cast<int>(ID_MENU_SETTINGS), [this] { OnMenuSettings(); });
    OnBnClicked(static_cast<int>(ID_MENU_COMM_TEST), [this] { OnMenuCommTest(); });
    OnBnClicked(static_cast<int>(ID_MENU_ABOUT), [this] { OnMenuAbout(); });

    OnMessage(WM_MEAS_READING, [this](WPARAM w, LPARAM l) { return OnMeasReading(w, l); });
    OnMessage(WM_MEAS_LIMIT, [this](WPARAM w, LPARAM l) { return OnMeasLimit(w, l); });
    OnMessage(WM_MEAS_INTERVAL_START,
              [this](WPARAM w, LPARAM l) { return OnMeasIntervalStart(w, l); });
    OnMessage(WM_MEAS_IDENTITY, [this](WPARAM w, LPARAM l) { return OnMeasIdentity(w, l); });
    OnMessage(WM_MEAS_STOP_RETRY, [this](WPARAM w, LPARAM l) { return OnMeasStopRetry(w, l); });
    OnMessage(WM_MEAS_TEMPERATURE, [this](WPARAM w, LPARAM l) { return OnMeasTemperature(w, l); });
}

CLyrSampleDlg::~CLyrSampleDlg() {
    // A window deleted without DoModal's teardown still stops its run and saves its settings:
    // the measurement thread must never outlive the window it reports to.
    if (!IsWindowDestroyed()) CLyrSampleDlg::DestroyWindow();
}

void CLyrSampleDlg::DoDataExchange(CDataExchange* pDX) {
    DDX_Radio(pDX, IDC_RADIO_SAVE_FILE, m_nSaveTarget);
    DDX_Radio(pDX, IDC_RADIO_CAPTURE_ENTER, m_nCaptureMethod);
    DDX_Text(pDX, IDC_EDIT_FILE_PATH, m_strFilePath);
    DDX_Text(pDX, IDC_EDIT_INTERVAL, m_dInterval);
    DDX_Text(pDX, IDC_EDIT_TIMES, m_nTimes);
    DDX_Text(pDX, IDC_STATIC_VALUE, m_strValue);
    DDX_Text(pDX, IDC_STATIC_JUDGE, m_strJudge);
}

bool CLyrSampleDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    // The version item of the system menu lives in the context menu (contextMenuEvent).
    setWindowIcon(m_hIcon);
    // Linux honours 1 ms sleeps and timers without raising a timer resolution.

    // The meters need this pause after the program starts before the first exchange.
    Sleep(1000);

    m_settings.Load();

    const LocalTime now = m_clock();
    m_strFilePath = m_settings.FileDir +
                    QString::asprintf("/%04d%02d%02d%02d%02d%02d.", now.year, now.month, now.day,
                                      now.hour, now.minute, now.second) +
                    m_settings.FileExtension;

    m_nCaptureMethod = m_settings.LogType;
    m_nTimes = static_cast<unsigned>(m_settings.LogLimit);
    m_nSaveTarget = m_settings.CsvEnable;
    m_dInterval = m_settings.LogInterval / 10.0;

    EnableControls(true, false);

    GetDlgItem(IDC_STATIC_VALUE)->setFont(m_fontLarge);
    GetDlgItem(IDC_STATIC_JUDGE)->setFont(m_fontLarge);
    GetDlgItem(IDC_GROUP_VALUE)->setFont(m_fontSmall);
    GetDlgItem(IDC_STATIC_SERIAL)->setFont(m_fontSmall);

    SetCaptions();

    CMeterComm& link = TheMeterComm();
    // With no port present discovery keeps the selection it finds, and the exit copies it back
    // into ComNo: seeding it with the configured port keeps that port for the next start when
    // the adapter happens to be unplugged now.
    link.SelectedPort = m_settings.ComNo;
    link.EnumeratePorts(m_settings.ComNo);
    link.SelectedBaudRate = static_cast<quint32>(m_settings.BaudRate);

    UpdateData(false);
    return true;
}

void CLyrSampleDlg::SetCaptions() {
    ModifyMenuItem(0, ID_MENU_SETTINGS, LoadString(IDS_MENU_SETTINGS));
    ModifyMenuItem(1, ID_MENU_COMM_TEST, LoadString(IDS_MENU_COMM_TEST));
    ModifyMenuItem(2, ID_MENU_ABOUT, LoadString(IDS_MENU_HELP));
    SetDlgItemCaptions(kCaptions);
}

void CLyrSampleDlg::OnClose() {
    if (m_pMeasThread) {
        AfxMessageBox(LoadString(IDS_NOT_DURING_MEASUREMENT), MB_OK);
        return;
    }
    CDialog::OnClose();
}

bool CLyrSampleDlg::DestroyWindow() {
    if (IsWindowDestroyed()) return false;
    StopLogging();
    // The window must not go while the thread still runs (it reports to this window): the stop
    // is repeated, with the thread's pending sends delivered in between, until it has ended.
    while (m_pMeasThread) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 50);
        if (m_pMeasThread) StopLogging();
    }

    UpdateData(true);
    m_settings.FileDir = GetPathDirectory(m_strFilePath);
    m_settings.FileExtension = GetPathExtension(m_strFilePath);
    m_settings.LogLimit = static_cast<int>(std::min<unsigned>(m_nTimes, INT_MAX));
    m_settings.CsvEnable = m_nSaveTarget;
    m_settings.GetCompRes = true;
    // An interval typed but never checked by a Start may be any finite number: kept within the
    // int range before it is truncated.
    m_settings.LogInterval = static_cast<int>(
        std::clamp(m_dInterval * 10.0, static_cast<double>(INT_MIN), static_cast<double>(INT_MAX)));
    m_settings.LogType = m_nCaptureMethod;
    const CMeterComm& link = TheMeterComm();
    m_settings.ComNo = link.SelectedPort;
    m_settings.BaudRate = static_cast<int>(link.SelectedBaudRate);
    m_settings.Save();

    return CDialog::DestroyWindow();
}

// ---------------------------------------------------------------------------------------------
// Messages from the measurement thread

void CLyrSampleDlg::Post(unsigned message, WPARAM wParam, LPARAM lParam,
                         std::shared_ptr<const MessagePayload> payload) {
    PostMessage(message, wParam, lParam, std::move(payload));
}

LRESULT CLyrSampleDlg::Send(unsigned message, WPARAM wParam, LPARAM lParam) {
    return SendMessage(message, wParam, lParam);
}

int CLyrSampleDlg::JudgeColorOf(const QString& judge) {
    if (judge == u"IN") return 2;
    if (judge == u"HI" || judge == u"LO") return 1;
    return 0;
}

LRESULT CLyrSampleDlg::OnMeasReading(WPARAM /*wParam*/, LPARAM /*lParam*/) {
    // The reading is read from the copy its message carries, and only when it belongs to the
    // run now going: a reading of an earlier run, or one that comes after a failed save, is
    // dropped unread and unacknowledged.
    const ReadingPayload* payload = ReadingPayloadOf(CurrentMessagePayload());
    if (!m_pMeasThread || !m_bRecording || payload == nullptr ||
        payload->RunId != m_pMeasThread->RunId)
        return 0;
    const ReadingRecord& record = payload->Record;

    if (!g_bCaptureHold) {
        const bool captured = record.Captured != 0;

        const int mode = m_pMeasThread->CaptureMode;
        const bool numbered = mode != CaptureMonitor;
        const int n = mode == CaptureEnterKey ? m_nCaptureCount : static_cast<int>(record.Index);
        QString caption = LoadString(IDS_MEASUREMENT_VALUE);
        if (numbered) caption += QString::asprintf(" No.%d", n + 1);
        SetDlgItemText(IDC_GROUP_VALUE, caption);

        const QString text = QString::fromUtf16(payload->ReadingText);
        const qsizetype comma = text.indexOf(u',');
        if (!text.isEmpty() && comma >= 0) {
            m_strValue = text.left(comma);
            m_strJudge = text.mid(comma + 1);
        } else {
            m_strValue = text;
            m_strJudge = QStringLiteral("--");
        }
        m_nJudgeColor = JudgeColorOf(m_strJudge);

        if (captured) SaveReading(n);
        UpdateData(false);
        // A failed save has ended the run: nothing is left to acknowledge.
        if (!m_pMeasThread) return 0;
    }

    if (record.Triggered != 0) {
        g_bCaptureHold = true;
        SetTimer(ID_TIMER_TRIGGER, 10);
    } else {
        SetRunEvent(&CMeasThread::ReadyEvent);
    }
    return 0;
}

LRESULT CLyrSampleDlg::OnMeasLimit(WPARAM, LPARAM) {
    StopLogging();
    EnableControls(true, false);
    return 0;
}

LRESULT CLyrSampleDlg::OnMeasIntervalStart(WPARAM, LPARAM) {
    if (m_nCaptureMethod != CaptureInterval) return 0;
    unsigned period = static_cast<unsigned>(m_dInterval * 1000.0);
    if (period == 0) period = 10;
    if (m_pMeasThread) SetRunEvent(&CMeasThread::IntervalEvent);
    SetTimer(ID_TIMER_INTERVAL, period);
    return 0;
}

LRESULT CLyrSampleDlg::OnMeasIdentity(WPARAM wParam, LPARAM /*model*/) {
    SetDlgItemText(IDC_STATIC_SERIAL, LoadString(IDS_SERIAL_PREFIX) + TextAt(wParam));
    return 0;
}

LRESULT CLyrSampleDlg::OnMeasStopRetry(WPARAM, LPARAM) {
    if (StopLogging()) EnableControls(true, false);
    return 0;
}

LRESULT CLyrSampleDlg::OnMeasTemperature(WPARAM wParam, LPARAM) {
    if (m_pMeasThread) m_strTemperature = TextAt(wParam);
    return 0;
}

std::optional<QColor> CLyrSampleDlg::OnCtlColor(int id) {
    if (id != IDC_STATIC_JUDGE) return std::nullopt;
    switch (m_nJudgeColor) {
        case 1:
            return m_brushRed;
        case 2:
            return m_brushGreen;
        default:
            return m_brushWhite;
    }
}

// ---------------------------------------------------------------------------------------------
// Run control

void CLyrSampleDlg::SetRunEvent(std::unique_ptr<Event> CMeasThread::*event) {
    if (m_pMeasThread && (*m_pMeasThread).*event) ((*m_pMeasThread).*event)->Set();
}

void CLyrSampleDlg::ResetRunEvent(std::unique_ptr<Event> CMeasThread::*event) {
    if (m_pMeasThread && (*m_pMeasThread).*event) ((*m_pMeasThread).*event)->Reset();
}

void CLyrSampleDlg::ResetDisplay() {
    m_strValue = kNoValue;
    m_strJudge = kNoJudge;
    m_nJudgeColor = 0;
    SetDlgItemText(IDC_GROUP_VALUE, LoadString(IDS_MEASUREMENT_VALUE));
    UpdateData(false);
}

void CLyrSampleDlg::OnBnClickedStart() {
    UpdateData(true);  // a field that does not parse keeps its value after the prompt
    if (m_pMeasThread) return;
    if (StartLogging(m_nCaptureMethod))
        EnableControls(false, false);
    else
        StopLogging();
    ResetDisplay();
}

bool CLyrSampleDlg::StartLogging(int mode) {
    if (m_pMeasThread) return true;

    if (m_dInterval < 0.0)
        m_dInterval = 0.0;
    else if (m_dInterval > 3600.0)
        m_dInterval = 3600.0;
    else
        m_dInterval = static_cast<int>(m_dInterval * 10.0) / 10.0;
    if (m_nTimes < 1) m_nTimes = 1;
    UpdateData(false);

    m_pMeasThread = std::make_unique<CMeasThread>(this);
    CMeasThread& thread = *m_pMeasThread;
    (void)thread.CreateThread();
    thread.CaptureMode = mode;
    thread.CountLimit = m_nTimes;
    thread.FilterEnable = m_settings.FilterEnable;
    thread.FilterTime = static_cast<unsigned>(std::max(m_settings.FilterTime, 0));
    thread.SaveTemp = m_settings.SaveTemp;
    thread.CreateEvents();
    thread.ResumeThread();

    const int result = thread.ConnectInstrument();
    if (result != 0) {
        AfxMessageBox(LoadString(result == 2 ? IDS_NO_RESPONSE : IDS_FAILED_OPEN_PORT), MB_OK);
        SetRunEvent(&CMeasThread::StartEvent);
        StopLogging();
        return false;
    }
    SetRunEvent(&CMeasThread::StartEvent);
    m_bRecording = true;
    m_nCaptureCount = 0;

    if (mode != CaptureMonitor) {
        if (m_nSaveTarget == 0) {
            if (!OpenLogFile(m_strFilePath)) {
                AfxMessageBox(LoadString(IDS_FAILED_OPEN_FILE), MB_OK);
                return false;
            }
        } else {
            if (!m_excel.Open()) {
                AfxMessageBox(LoadString(IDS_FAILED_OPEN_EXCEL), MB_OK);
                return false;
            }
            // The spreadsheet has just been shown over this window.
            raise();
            activateWindow();
        }
    }
    m_pMeasThread->Armed = true;
    return true;
}

bool CLyrSampleDlg::StopLogging() {
    Sleep(50);
    if (!m_pMeasThread) return false;
    if (m_nCaptureMethod == CaptureInterval) KillTimer(ID_TIMER_INTERVAL);
    if (m_pMeasThread->StopMeasurement() == 0) return false;
    Sleep(50);
    m_pMeasThread.reset();
    m_excel.Release();
    CloseLogFile();
    return true;
}

void CLyrSampleDlg::OnBnClickedStop() {
    if (!m_pMeasThread) return;
    StopLogging();
    EnableControls(true, false);
}

void CLyrSampleDlg::OnBnClickedCapture() {
    if (m_nCaptureMethod != CaptureEnterKey || !m_pMeasThread) return;
    g_bCaptureHold = true;
    ResetRunEvent(&CMeasThread::ReadyEvent);
    SetTimer(ID_TIMER_CAPTURE, 10);
    EnableDlgItem(IDC_BUTTON_CAPTURE, false);
    UpdateData(false);
    SaveReading(m_nCaptureCount);
}

void CLyrSampleDlg::OnBnClickedMonitor() {
    QString caption = LoadString(IDS_MONITOR);
    UpdateData(true);
    if (!m_pMeasThread) {
        if (StartLogging(CaptureMonitor)) {
            EnableControls(false, true);
            caption = LoadString(IDS_STOP_MONITOR);
        } else {
            StopLogging();
        }
    } else {
        StopLogging();
        EnableControls(true, true);
    }
    SetDlgItemText(IDC_BUTTON_MONITOR, caption);
}

void CLyrSampleDlg::SaveReading(int index) {
    const bool saved = m_nSaveTarget != 0 ? WriteExcelRecord(index) : WriteTextRecord(index);
    if (!saved) OnSaveFailed();
}

void CLyrSampleDlg::OnSaveFailed() {
    if (!m_bRecording) return;
    // Cleared before the box opens: readings its message loop delivers are dropped.
    m_bRecording = false;
    AfxMessageBox(LoadString(IDS_FAILED_SAVE_DATA), MB_OK);
    if (m_pMeasThread) {
        StopLogging();
        EnableControls(true, false);
    }
}

void CLyrSampleDlg::OnBnClickedRadio() { UpdateData(true); }

void CLyrSampleDlg::OnBnClickedBrowse() {
    // Starts from the path as last exchanged; the edit is not read first.
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);  // a new file may be named
    dialog.setNameFilter(QStringLiteral("text (*.csv *.txt *.dat)"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.setDirectory(GetPathDirectory(m_strFilePath));
    dialog.selectFile(GetPathFileName(m_strFilePath));
    if (dialog.exec() != QDialog::Accepted) return;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return;
    m_strFilePath = chosen.first();
    UpdateData(false);
}

bool CLyrSampleDlg::PreTranslateMessage(QKeyEvent* msg) {
    // ESC is dropped, so it never cancels (closes) the window.
    if (msg->key() == Qt::Key_Escape) return true;
    // During a Capture-button run the focus stays on Capture, so ENTER always captures.
    if ((msg->key() == Qt::Key_Tab || msg->key() == Qt::Key_Backtab) &&
        m_nCaptureMethod == CaptureEnterKey && m_pMeasThread)
        return true;
    return false;
}

void CLyrSampleDlg::EnableControls(bool bEnable, bool bMonitor) {
    for (int id : kRunInputs) EnableDlgItem(id, bEnable);
    if (!bMonitor) {
        EnableDlgItem(IDC_BUTTON_MONITOR, bEnable);
        EnableDlgItem(IDC_BUTTON_START, bEnable);
        if (bEnable) {
            EnableDlgItem(IDC_BUTTON_CAPTURE, false);
        } else if (m_nCaptureMethod == CaptureEnterKey) {
            EnableDlgItem(IDC_BUTTON_CAPTURE, true);
            GotoDlgCtrl(GetDlgItem(IDC_BUTTON_CAPTURE));
        }
    } else {
        EnableDlgItem(IDC_BUTTON_START, bEnable);
        EnableDlgItem(IDC_BUTTON_STOP, bEnable);
    }
    for (unsigned command : kMenuCommands) EnableMenuItem(command, bEnable);
}

void CLyrSampleDlg::OnTimer(unsigned id) {
    switch (id) {
        case ID_TIMER_INTERVAL:
            if (m_nCaptureMethod == CaptureInterval && m_pMeasThread)
                SetRunEvent(&CMeasThread::IntervalEvent);
            break;
        case ID_TIMER_CAPTURE:
            if (g_bCaptureHold) {
                g_bCaptureHold = false;
                KillTimer(ID_TIMER_CAPTURE);
                // A run stopped within the hold leaves the window idle, with Capture disabled.
                if (m_pMeasThread) {
                    EnableDlgItem(IDC_BUTTON_CAPTURE, true);
                    GotoDlgCtrl(GetDlgItem(IDC_BUTTON_CAPTURE));
                }
                UpdateData(false);
                ++m_nCaptureCount;
                SetRunEvent(&CMeasThread::ReadyEvent);
            }
            break;
        case ID_TIMER_TRIGGER:
            if (g_bCaptureHold) {
                g_bCaptureHold = false;
                KillTimer(ID_TIMER_TRIGGER);
                SetRunEvent(&CMeasThread::ReadyEvent);
            }
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------------------------------------
// Menu bar and context menu

void CLyrSampleDlg::contextMenuEvent(QContextMenuEvent* e) {
    QMenu menu(this);
    const QString version = LoadString(IDS_ABOUTBOX);
    if (!version.isEmpty()) {
        QAction* about = menu.addAction(version);
        connect(about, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
    }
    // The Monitor button is never shown; its command is offered here with its caption and state.
    QPushButton* monitor = GetButton(IDC_BUTTON_MONITOR);
    menu.addSeparator();
    QAction* monitorItem = menu.addAction(monitor->text());
    monitorItem->setEnabled(monitor->isEnabled());
    connect(monitorItem, &QAction::triggered, this,
            [this] { SendCommand(IDC_BUTTON_MONITOR, BN_CLICKED); });
    menu.exec(e->globalPos());
}

void CLyrSampleDlg::OnSysCommand(unsigned id) {
    if ((id & 0xFFF0u) == IDM_ABOUTBOX) OnMenuAbout();
}

void CLyrSampleDlg::OnMenuSettings() {
#ifdef LYR_HAVE_SET_DIALOG
    CSetDialog dlg;
    dlg.SaveDataIndex = m_settings.SaveDataIndex;
    dlg.SaveDate = m_settings.SaveDate;
    dlg.SaveTime = m_settings.SaveTime;
    dlg.SaveJudge = m_settings.SaveJudge;
    dlg.SaveTemp = m_settings.SaveTemp;
    dlg.FilterEnable = m_settings.FilterEnable;
    dlg.FilterTime = static_cast<unsigned>(std::max(m_settings.FilterTime, 0));
    dlg.ComNo = m_settings.ComNo;
    dlg.BaudRate = m_settings.BaudRate;
    dlg.Decimal = m_settings.Decimal;
    dlg.Separator = m_settings.Separator;
    if (dlg.DoModal() == IDOK) {
        m_settings.SaveDataIndex = dlg.SaveDataIndex;
        m_settings.SaveDate = dlg.SaveDate;
        m_settings.SaveTime = dlg.SaveTime;
        m_settings.SaveJudge = dlg.SaveJudge;
        m_settings.SaveTemp = dlg.SaveTemp;
        m_settings.FilterEnable = dlg.FilterEnable;
        m_settings.FilterTime = static_cast<int>(dlg.FilterTime);
        m_settings.ComNo = dlg.ComNo;
        m_settings.BaudRate = dlg.BaudRate;
        m_settings.Decimal = dlg.Decimal;
        m_settings.Separator = dlg.Separator;
        const CMeterComm& link = TheMeterComm();
        m_settings.ComNo = link.SelectedPort;
        m_settings.BaudRate = static_cast<int>(link.SelectedBaudRate);
    }
#endif
}

void CLyrSampleDlg::OnMenuCommTest() {
#ifdef LYR_HAVE_COMM_TEST_DLG
    CComTestDlg dlg;
    dlg.DoModal();
    const CMeterComm& link = TheMeterComm();
    m_settings.ComNo = link.SelectedPort;
    m_settings.BaudRate = static_cast<int>(link.SelectedBaudRate);
#endif
}

void CLyrSampleDlg::OnMenuAbout() {
#ifdef LYR_HAVE_ABOUT_DLG
    CAboutDlg dlg;
    dlg.DoModal();
#endif
}

}  // namespace lyr
