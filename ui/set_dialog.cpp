#include "ui/set_dialog.h"

#include <QComboBox>

#include <algorithm>
#include <iterator>

#include "res/dlg_131.h"
#include "res/resource.h"
#include "res/string_table.h"

namespace lyr {

namespace {

// Largest filter time the measurement thread is given, in ms.
constexpr unsigned kMaxFilterTime = 1000;

// Run-time captions, in the order they are set.
constexpr ControlCaption kCaptions[] = {
    {IDC_SET_COM_PORT_LABEL, IDS_COM_PORT},
    {IDC_SET_GROUP_SAVE, IDS_SAVE_DETAILS},
    {IDC_SET_DATA_NUMBER, IDS_DATA_NUMBER},
    {IDC_SET_DATE, IDS_DATE},
    {IDC_SET_TIME, IDS_TIME},
    {IDC_SET_GROUP_FILTER, IDS_EXT_TRIGGER_FILTER},
    {IDC_SET_FILTER_ENABLE, IDS_ENABLE},
    {IDCANCEL_BUTTON, IDS_CANCEL},
    {IDC_SET_GROUP_COMM, IDS_COMM_SETTINGS},
    {IDC_SET_BAUD_LABEL, IDS_BAUD_RATE},
    {IDC_SET_REFRESH, IDS_REFRESH_PORTS},
    {IDC_SET_GROUP_FORMAT, IDS_SAVE_FORMAT},
    {IDC_SET_DECIMAL_LABEL, IDS_DECIMAL_POINT},
    {IDC_SET_SEPARATOR_LABEL, IDS_SEPARATOR},
    {IDC_SET_JUDGE, IDS_JUDGMENT},
    {IDC_SET_TEMPERATURE, IDS_TEMPERATURE},
};

// Entries of the decimal list and of the separator list: the position is the settings value.
constexpr unsigned kDecimalEntries[] = {IDS_PERIOD, IDS_COMMA};
constexpr unsigned kSeparatorEntries[] = {IDS_COMMA, IDS_SEMICOLON, IDS_TAB, IDS_SPACE};

// A position out of range leaves the list without a selection.
void SelectPosition(QComboBox* list, int position) {
    list->setCurrentIndex(position >= 0 && position < list->count() ? position : -1);
}

template <std::size_t N>
void FillFixedList(QComboBox* list, const unsigned (&entries)[N], int selection) {
    for (int i = 0; i < static_cast<int>(N); ++i) list->insertItem(i, LoadString(entries[i]), i);
    SelectPosition(list, selection);
}

// Position of `rate` in BaudRateTable, or 0 (9600) when it is none of the rates offered.
int BaudRatePosition(quint32 rate) {
    const auto* it = std::find(BaudRateTable.begin(), BaudRateTable.end(), rate);
    return it == BaudRateTable.end() ? 0
                                     : static_cast<int>(std::distance(BaudRateTable.begin(), it));
}

}  // namespace

CSetDialog::CSetDialog(QWidget* parent, CMeterComm& link)
    : CDialog(res::DialogTemplate131(), parent), m_link(link) {}

void CSetDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Check(pDX, IDC_SET_DATA_NUMBER, SaveDataIndex);
    DDX_Check(pDX, IDC_SET_DATE, SaveDate);
    DDX_Check(pDX, IDC_SET_TIME, SaveTime);
    DDX_Check(pDX, IDC_SET_FILTER_ENABLE, FilterEnable);
    DDX_Text(pDX, IDC_SET_FILTER_TIME, FilterTime);
    DDV_MinMaxUInt(pDX, FilterTime, 0, kMaxFilterTime);
    DDX_CBIndex(pDX, IDC_SET_DECIMAL_LIST, Decimal);
    DDX_CBIndex(pDX, IDC_SET_SEPARATOR_LIST, Separator);
    DDX_Check(pDX, IDC_SET_JUDGE, SaveJudge);
    DDX_Check(pDX, IDC_SET_TEMPERATURE, SaveTemp);
}

bool CSetDialog::OnInitDialog() {
    // The decimal and separator lists are still empty here; their selections are set again
    // once they are filled.
    CDialog::OnInitDialog();

    QComboBox* portList = GetComboBox(IDC_SET_PORT_LIST);
    for (int i = portList->count() - 1; i >= 0; --i) portList->removeItem(i);
    int preferred = -1;
    for (int i = 0; i < static_cast<int>(m_link.FriendlyNames.size()); ++i) {
        portList->insertItem(i, m_link.FriendlyNames[i], i);
        if (m_link.PortNames.value(i) == ComNo) preferred = i;
    }
    SelectPosition(portList, preferred >= 0 ? preferred : 0);

    QComboBox* baudList = GetComboBox(IDC_SET_BAUD_LIST);
    if (!m_link.PortBaudRates.isEmpty())
        baudList->setCurrentIndex(BaudRatePosition(static_cast<quint32>(BaudRate)));
    else
        // Without ports OK leaves the link's rate alone, which needs the list unselected.
        baudList->setCurrentIndex(-1);

    FillFixedList(GetComboBox(IDC_SET_DECIMAL_LIST), kDecimalEntries, Decimal);
    FillFixedList(GetComboBox(IDC_SET_SEPARATOR_LIST), kSeparatorEntries, Separator);

    SetWindowText(LoadString(IDS_SET_DIALOG_TITLE));
    SetDlgItemCaptions(kCaptions);
    return true;
}

void CSetDialog::OnOK() {
    // FoundSerials always has one entry per present port.
    if (!m_link.FoundSerials.isEmpty()) {
        const int p = GetComboBox(IDC_SET_PORT_LIST)->currentIndex();
        if (p >= 0 && p < m_link.PortNames.size()) {
            m_link.SelectedPort = m_link.PortNames[p];
            ComNo = m_link.SelectedPort;
        }
    }
    // Unselected only when no port is present: the link's rate and BaudRate then stay as they
    // are.
    const int q = GetComboBox(IDC_SET_BAUD_LIST)->currentIndex();
    if (q >= 0 && q < static_cast<int>(BaudRateTable.size())) {
        m_link.SelectedBaudRate = BaudRateTable[static_cast<std::size_t>(q)];
        BaudRate = static_cast<int>(m_link.SelectedBaudRate);
    }
    // A failed exchange keeps the dialog open; the link keeps what it was just given.
    CDialog::OnOK();
}

}  // namespace lyr
