#include "res/dlg_131.h"

#include "res/resource.h"

namespace lyr::res {

namespace {

using K = ControlKind;

constexpr const char* kBaudRates[] = {"9600", "19200", "38400", "115200"};

constexpr DialogControl kControls[] = {
    {IDC_SET_GROUP_SAVE, K::GroupBox, 12, 12, 150, 108, CS_VISIBLE, "Save Details"},
    {IDC_SET_DATA_NUMBER, K::CheckBox, 30, 30, 75, 10, CS_VISIBLE | CS_TABSTOP, "Data Number"},
    {IDC_SET_DATE, K::CheckBox, 30, 48, 53, 10, CS_VISIBLE | CS_TABSTOP, "Date"},
    {IDC_SET_TIME, K::CheckBox, 30, 66, 52, 10, CS_VISIBLE | CS_TABSTOP, "Time"},
    {IDC_SET_JUDGE, K::CheckBox, 30, 84, 52, 10, CS_VISIBLE | CS_TABSTOP, "Judgment"},
    {IDC_SET_GROUP_FORMAT, K::GroupBox, 12, 132, 150, 66, CS_VISIBLE, "Save Format(Text)"},
    {IDC_SET_DECIMAL_LABEL, K::Static, 30, 150, 54, 8, CS_VISIBLE, "Decimal Point:"},
    // Both lists are a little wider than drawn for MS Sans Serif, so that "Semicolon( ; )" fits
    // in the wider fonts that stand in for it.
    {IDC_SET_DECIMAL_LIST, K::ComboDropList, 90, 150, 66, 30, CS_VISIBLE | CS_TABSTOP, ""},
    {IDC_SET_SEPARATOR_LABEL, K::Static, 30, 174, 54, 8, CS_VISIBLE, "Separator:"},
    {IDC_SET_SEPARATOR_LIST, K::ComboDropList, 90, 174, 66, 30, CS_VISIBLE | CS_TABSTOP, ""},
    {IDC_SET_GROUP_FILTER, K::GroupBox, 12, 210, 150, 60, CS_VISIBLE, "EXT Trigger Filter"},
    {IDC_SET_FILTER_ENABLE, K::CheckBox, 30, 228, 59, 10, CS_VISIBLE | CS_TABSTOP, "Enable"},
    {IDC_SET_FILTER_TIME, K::Edit, 48, 246, 42, 14, CS_VISIBLE | CS_TABSTOP | CS_AUTOHSCROLL, ""},
    {IDC_STATIC, K::Static, 96, 250, 53, 12, CS_VISIBLE, "msec (0-1000)"},
    // The communication controls below are never shown: their lists are still filled and OK
    // still hands their selections to the link, so OK also confirms the port and the rate.
    {IDC_SET_PORT_LIST, K::ComboDropList, 30, 270, 121, 163, 0, ""},
    {IDOK_BUTTON, K::DefPushButton, 24, 282, 50, 14, CS_VISIBLE | CS_TABSTOP, "OK"},
    {IDCANCEL_BUTTON, K::PushButton, 96, 282, 50, 14, CS_VISIBLE | CS_TABSTOP, "Cancel"},
    {IDC_SET_COM_PORT_LABEL, K::Static, 25, 297, 60, 8, 0, "COM Port:"},
    {IDC_SET_GROUP_COMM, K::GroupBox, 18, 297, 150, 12, 0, "Communication Settings"},
    {IDC_SET_BAUD_LABEL, K::Static, 18, 303, 60, 12, 0, "Baud Rate:"},
    {IDC_SET_BAUD_LIST, K::ComboDropList, 90, 270, 61, 163, 0, "", kBaudRates},
    {IDC_SET_REFRESH, K::PushButton, 36, 297, 102, 14, 0, "Refresh COM port list"},
    {IDC_SET_TEMPERATURE, K::CheckBox, 30, 102, 87, 10, CS_VISIBLE | CS_TABSTOP, "Temperature"},
};

constexpr DialogTemplate kTemplate{
    .id = IDD_SET_DIALOG,
    .style = DS_POPUP | DS_CAPTION | DS_SYSMENU | DS_MODALFRAME,
    .cx = 175,
    .cy = 319,
    .fontName = "MS Sans Serif",
    .fontPointSize = 9,
    .title = "Capture Settings",
    .menuId = 0,
    .controls = kControls,
};

}  // namespace

const DialogTemplate& DialogTemplate131() { return kTemplate; }

}  // namespace lyr::res
