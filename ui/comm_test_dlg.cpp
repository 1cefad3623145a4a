#include "ui/comm_test_dlg.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>

#include <algorithm>
#include <chrono>
#include <future>
#include <iterator>

#include "platform/message_box.h"
#include "platform/tick.h"
#include "res/dlg_135.h"
#include "res/resource.h"
#include "res/string_table.h"

namespace lyr {

namespace {

// Polls the open port for the reply.
constexpr unsigned kPollTimer = 10;
constexpr unsigned kPollPeriodMs = 50;
// Lets a port that was just closed settle before anyone opens it again.
constexpr quint32 kReleaseWaitMs = 60;

// Run-time captions, in the order they are set.
constexpr ControlCaption kCaptions[] = {
    {IDC_COM_PORT_LABEL, IDS_COM_PORT},
    {IDC_COM_BAUD_LABEL, IDS_BAUD_RATE},
    {IDC_COM_SEND_LABEL, IDS_SEND_DATA},
    {IDC_COM_RECEIVE_LABEL, IDS_RECEIVE_DATA},
    {IDC_COM_XXXXX, IDS_XXXXX},
    {IDC_COM_OPEN, IDS_OPEN},
    {IDC_COM_SEND, IDS_SEND},
    {IDC_COM_CANCEL, IDS_CANCEL},
    {IDC_COM_SEARCH, IDS_PRODUCT_INFO},
    {IDC_COM_REFRESH, IDS_REFRESH_PORTS},
    {IDC_COM_GROUP_TEST, IDS_COMM_TEST},
    {IDC_COM_GROUP_SETTINGS, IDS_COMM_SETTINGS},
};

// The hourglass for the life of the object; Restore() ends it early (before a message box).
class CWaitCursor {
  public:
    CWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~CWaitCursor() { Restore(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
    void Restore() {
        if (m_bActive) QApplication::restoreOverrideCursor();
        m_bActive = false;
    }

  private:
    bool m_bActive = true;
};

// Position of `rate` in BaudRateTable, or 0 (9600) when it is none of the rates offered.
int BaudRatePosition(quint32 rate) {
    const auto* it = std::find(BaudRateTable.begin(), BaudRateTable.end(), rate);
    return it == BaudRateTable.end() ? 0
                                     : static_cast<int>(std::distance(BaudRateTable.begin(), it));
}

// Command lines are ASCII. A character the 8-bit code cannot carry is sent as '?', as the
// Windows conversion to the ANSI code page does.
QByteArray ToAnsi(const QString& text) { return text.toLatin1(); }

}  // namespace

CComTestDlg::CComTestDlg(QWidget* parent, CMeterComm& link)
    : CDialog(res::DialogTemplate135(), parent), m_link(link) {
    OnBnClicked(IDC_COM_SEND, [this] { OnSend(); });
    OnBnClicked(IDC_COM_SEARCH, [this] { OnSearch(); });
    OnBnClicked(IDC_COM_REFRESH, [this] { OnRefresh(); });
    OnBnClicked(IDC_COM_CANCEL, [this] { OnCancel(); });
    OnSelChange(IDC_COM_PORT_LIST, [this] { OnSelChangePortList(); });
    OnSelChange(IDC_COM_BAUD_LIST, [this] { OnSelChangeBaudList(); });
}

QComboBox* CComTestDlg::PortList() const { return GetComboBox(IDC_COM_PORT_LIST); }

QComboBox* CComTestDlg::BaudList() const { return GetComboBox(IDC_COM_BAUD_LIST); }

void CComTestDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_CBIndex(pDX, IDC_COM_PORT_LIST, PortIndex);
    DDX_CBIndex(pDX, IDC_COM_BAUD_LIST, BaudIndex);
    DDX_Text(pDX, IDC_COM_SEND_TEXT, SendText);
    DDX_Text(pDX, IDC_COM_RECEIVE_TEXT, ReceiveText);
}

void CComTestDlg::ReleasePort() {
    if (m_link.DevicePath.isEmpty()) return;
    KillTimer(kPollTimer);
    // Connected is left as it is: every later open sets it afresh.
    m_link.Close();
    Sleep(kReleaseWaitMs);
}

void CComTestDlg::RediscoverPorts() { m_link.EnumeratePorts(m_link.SelectedPort); }

void CComTestDlg::FillPortList() {
    QComboBox* portList = PortList();
    portList->clear();
    if (m_link.FriendlyNames.isEmpty()) return;  // the rate list keeps its selection

    int selected = -1;
    for (int i = 0; i < static_cast<int>(m_link.FriendlyNames.size()); ++i) {
        QString text = m_link.FriendlyNames[i];
        // A single space is discovery's "not searched yet".
        const QString descriptor = m_link.FoundDescriptors.value(i);
        if (descriptor != QLatin1String(" ")) text += u'-' + descriptor;
        portList->insertItem(i, text, i);
        if (m_link.PortNames.value(i) == m_link.SelectedPort) selected = i;
    }
    if (selected < 0) selected = 0;
    portList->setCurrentIndex(selected);

    const quint32 rate =
        PortsSearched ? m_link.PortBaudRates.value(selected) : m_link.SelectedBaudRate;
    BaudList()->setCurrentIndex(BaudRatePosition(rate));
}

void CComTestDlg::RunKeepingWindowsPainted(const std::function<void()>& work) {
    m_bBusy = true;
    auto done = std::async(std::launch::async, work);
    while (done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    m_bBusy = false;
    done.get();
}

bool CComTestDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    {
        CWaitCursor wait;
        ReleasePort();
        RediscoverPorts();
        PortsSearched = false;
        FillPortList();
    }

    SetWindowText(LoadString(IDS_COM_TEST_TITLE));
    SetDlgItemCaptions(kCaptions);
    return true;
}

void CComTestDlg::OnSend() {
    UpdateData(true);  // nothing here can fail to read back
    CWaitCursor wait;

    if (m_link.DevicePath.isEmpty()) {
        const int p = PortList()->currentIndex();
        const int q = BaudList()->currentIndex();
        bool opened = false;
        if (p >= 0 && p < m_link.PortNames.size() && q >= 0 &&
            q < static_cast<int>(BaudRateTable.size())) {
            opened =
                m_link.OpenPort(m_link.PortNames[p], BaudRateTable[static_cast<std::size_t>(q)]);
        }
        if (opened) {
            SetTimer(kPollTimer, kPollPeriodMs);
        } else {
            wait.Restore();
            AfxMessageBox(LoadString(IDS_FAILED_OPEN_PORT), MB_OK);
        }
    }

    // Without an open port nothing is sent; a refused write is not reported either, it shows
    // as a reply that never comes.
    const QByteArray line = ToAnsi(SendText);
    (void)m_link.SendCommand(
        std::string_view(line.constData(), static_cast<std::size_t>(line.size())));

    ReceiveText.clear();
    UpdateData(false);
}

void CComTestDlg::OnTimer(unsigned id) {
    if (id == kPollTimer && m_link.PollReply()) {
        ReceiveText = m_link.ReplyBuffer;
        // Only the reply box: a command the operator is typing meanwhile stays as typed.
        SetDlgItemText(IDC_COM_RECEIVE_TEXT, ReceiveText);
    }
    CDialog::OnTimer(id);
}

void CComTestDlg::OnSelChangePortList() {
    if (PortsSearched) {
        const int p = PortList()->currentIndex();
        BaudList()->setCurrentIndex(BaudRatePosition(m_link.PortBaudRates.value(p)));
    }
    ReleasePort();
}

void CComTestDlg::OnSelChangeBaudList() { ReleasePort(); }

void CComTestDlg::OnSearch() {
    if (AfxMessageBox(LoadString(IDS_ASK_SEARCH_ALL), MB_OKCANCEL) != IDOK) return;
    CWaitCursor wait;
    ReleasePort();
    // About 1.3 s for every port without a meter: the windows keep painting meanwhile.
    RunKeepingWindowsPainted([this] { m_link.SearchAllPorts(); });
    PortsSearched = true;
    FillPortList();
}

void CComTestDlg::OnRefresh() {
    CWaitCursor wait;
    ReleasePort();
    RediscoverPorts();
    PortsSearched = false;
    FillPortList();
}

void CComTestDlg::OnOK() {
    if (m_bBusy) return;
    const int p = PortList()->currentIndex();
    if (p >= 0 && p < m_link.PortNames.size()) {
        m_link.SelectedPort = m_link.PortNames[p];
        const int q = BaudList()->currentIndex();
        if (q >= 0 && q < static_cast<int>(BaudRateTable.size()))
            m_link.SelectedBaudRate = BaudRateTable[static_cast<std::size_t>(q)];
    }
    CDialog::OnOK();
}

void CComTestDlg::OnCancel() {
    if (m_bBusy) return;
    CDialog::OnCancel();
}

void CComTestDlg::OnClose() {
    if (m_bBusy) return;
    CDialog::OnClose();
}

void CComTestDlg::OnDestroy() {
    CDialog::OnDestroy();
    KillTimer(kPollTimer);
    if (m_link.HandleValid()) m_link.Close();
}

bool CComTestDlg::PreTranslateMessage(QKeyEvent* msg) {
    const bool enter = msg->key() == Qt::Key_Return || msg->key() == Qt::Key_Enter;
    // ENTER sends only from the send box (through the default button, Send). Elsewhere it would
    // press a focused button or send from a list, so it is dropped; an open drop-down keeps it to
    // choose its entry.
    if (enter && QApplication::activePopupWidget() == nullptr &&
        focusWidget() != GetEdit(IDC_COM_SEND_TEXT))
        return true;
    return CDialog::PreTranslateMessage(msg);
}

}  // namespace lyr
