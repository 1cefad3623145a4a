#include "res/dlg_135.h"

#include "res/resource.h"

namespace lyr::res {

namespace {

using K = ControlKind;

constexpr const char* kBaudRates[] = {"9600", "19200", "38400", "115200"};

// Send is the only tab stop and the default button: ENTER in the send box sends the line.
constexpr DialogControl kControls[] = {
    {IDC_COM_CANCEL, K::PushButton, 150, 258, 48, 13, CS_VISIBLE, "Cancel"},
    {IDC_COM_SEND, K::DefPushButton, 198, 192, 60, 13, CS_VISIBLE | CS_TABSTOP, "Send"},
    {IDC_COM_SEND_TEXT, K::Edit, 42, 168, 216, 14, CS_VISIBLE | CS_AUTOHSCROLL, ""},
    {IDC_COM_RECEIVE_TEXT, K::Edit, 42, 216, 216, 14, CS_VISIBLE | CS_READONLY | CS_AUTOHSCROLL,
     ""},
    {IDC_COM_PORT_LIST, K::ComboDropList, 30, 42, 228, 163, CS_VISIBLE, ""},
    {IDC_COM_PORT_LABEL, K::Static, 24, 24, 72, 12, CS_VISIBLE, "COM Port:"},
    {IDC_COM_GROUP_SETTINGS, K::GroupBox, 12, 6, 258, 132, CS_VISIBLE, "Communication Settings"},
    {IDC_COM_BAUD_LABEL, K::Static, 24, 66, 72, 12, CS_VISIBLE, "Baud Rate:"},
    {IDC_COM_BAUD_LIST, K::ComboDropList, 30, 84, 72, 163, CS_VISIBLE, "", kBaudRates},
    {IDC_COM_XXXXX, K::PushButton, 96, 18, 60, 14, 0, "xxxxx"},
    {IDC_COM_SEND_LABEL, K::Static, 24, 156, 66, 8, CS_VISIBLE, "Send Data:"},
    {IDC_COM_OPEN, K::PushButton, 168, 18, 72, 14, 0, "Open"},
    {IDC_COM_RECEIVE_LABEL, K::Static, 24, 204, 66, 8, CS_VISIBLE, "Receive Data:"},
    // Wider than drawn for MS Sans Serif (and moved left to keep its right edge), so that its
    // long caption fits in the wider fonts that stand in for it.
    {IDC_COM_SEARCH, K::PushButton, 90, 114, 168, 14, CS_VISIBLE,
     "Display information about the ZORVA product"},
    {IDOK_BUTTON, K::PushButton, 66, 258, 48, 14, CS_VISIBLE, "OK"},
    {IDC_COM_REFRESH, K::PushButton, 144, 84, 114, 14, CS_VISIBLE, "Refresh COM port list"},
    {IDC_COM_GROUP_TEST, K::GroupBox, 12, 144, 258, 102, CS_VISIBLE, "Communication Test"},
};

constexpr DialogTemplate kTemplate{
    .id = IDD_COM_TEST_DIALOG,
    .style = DS_VISIBLE | DS_POPUP | DS_CAPTION | DS_SYSMENU | DS_MODALFRAME,
    .cx = 283,
    .cy = 285,
    .fontName = "MS Sans Serif",
    .fontPointSize = 9,
    .title = "Communication Settings",
    .menuId = 0,
    .controls = kControls,
};

}  // namespace

const DialogTemplate& DialogTemplate135() { return kTemplate; }

}  // namespace lyr::res
