#include "res/dlg_102.h"

#include "res/resource.h"

namespace lyr::res {

namespace {

using K = ControlKind;

constexpr DialogControl kControls[] = {
    {IDC_GROUP_SAVE_FILE, K::GroupBox, 6, 216, 324, 102, CS_VISIBLE, "Save File"},
    {IDC_RADIO_SAVE_FILE, K::RadioButton, 18, 234, 97, 10, CS_VISIBLE | CS_GROUP | CS_TABSTOP,
     "Save to File"},
    {IDC_RADIO_SAVE_EXCEL, K::RadioButton, 18, 294, 97, 10, CS_VISIBLE, "Save to Excel"},
    {IDC_EDIT_FILE_PATH, K::Edit, 30, 252, 288, 14,
     CS_VISIBLE | CS_GROUP | CS_TABSTOP | CS_AUTOHSCROLL, ""},
    {IDC_GROUP_CAPTURE_METHOD, K::GroupBox, 6, 84, 210, 120, CS_VISIBLE, "Capture Method"},
    {IDC_RADIO_CAPTURE_ENTER, K::RadioButton, 18, 102, 152, 10, CS_VISIBLE | CS_GROUP | CS_TABSTOP,
     "With Capture button or ENTER key"},
    {IDC_RADIO_CAPTURE_TRIGGER, K::RadioButton, 18, 126, 152, 10, CS_VISIBLE, "With EXT Trigger"},
    {IDC_RADIO_CAPTURE_INTERVAL, K::RadioButton, 18, 150, 151, 10, CS_VISIBLE, "At Intervals"},
    {IDC_STATIC_SEC, K::Static, 60, 174, 24, 8, CS_VISIBLE | CS_GROUP, "sec"},
    {IDC_EDIT_INTERVAL, K::Edit, 24, 168, 30, 14, CS_VISIBLE | CS_TABSTOP | CS_AUTOHSCROLL, ""},
    {IDC_EDIT_TIMES, K::Edit, 98, 168, 40, 14, CS_VISIBLE | CS_TABSTOP | CS_AUTOHSCROLL, ""},
    {IDC_STATIC, K::Static, 24, 186, 52, 8, CS_VISIBLE, "(0.0-3600.0)"},
    {IDC_STATIC, K::Static, 98, 186, 12, 8, CS_VISIBLE, "(1-)"},
    {IDC_BUTTON_START, K::PushButton, 228, 107, 48, 30, CS_VISIBLE | CS_TABSTOP, "Start"},
    {IDC_BUTTON_STOP, K::PushButton, 228, 155, 48, 30, CS_VISIBLE | CS_TABSTOP, "Stop"},
    {IDC_BUTTON_BROWSE, K::PushButton, 264, 270, 54, 14, CS_VISIBLE | CS_TABSTOP, "Browse"},
    // Created without the visible style and never shown; its command is offered elsewhere.
    {IDC_BUTTON_MONITOR, K::PushButton, 232, 72, 96, 13, CS_TABSTOP, "Monitor"},
    {IDC_STATIC_TIMES, K::Static, 146, 174, 30, 8, CS_VISIBLE, "Times"},
    {IDC_GROUP_VALUE, K::GroupBox, 6, 6, 240, 66, CS_VISIBLE, "Measurement Value"},
    {IDC_STATIC_VALUE, K::Static, 12, 20, 228, 46, CS_VISIBLE | CS_CENTER | CS_VCENTER,
     "-----------"},
    {IDC_BUTTON_CAPTURE, K::DefPushButton, 283, 107, 42, 30, CS_VISIBLE | CS_TABSTOP, "Capture"},
    {IDC_GROUP_JUDGE, K::GroupBox, 252, 6, 79, 66, CS_VISIBLE, "Judge"},
    {IDC_STATIC_JUDGE, K::Static, 259, 18, 66, 48, CS_VISIBLE | CS_CENTER | CS_VCENTER, "---"},
    {IDC_STATIC_SERIAL, K::Static, 234, 324, 96, 16, CS_VISIBLE, "Serial No.:  --------"},
};

constexpr DialogTemplate kTemplate{
    .id = IDD_LYRSAMPLE_DIALOG,
    .style = DS_VISIBLE | DS_POPUP | DS_CAPTION | DS_SYSMENU | DS_MINIMIZEBOX | DS_MODALFRAME |
             DS_APPWINDOW,
    .cx = 335,
    .cy = 349,
    .fontName = "MS Sans Serif",
    .fontPointSize = 9,
    .title = "LyrLogger",
    .menuId = IDR_MENU_MAIN,
    .controls = kControls,
};

constexpr MenuItem kMenuItems[] = {
    {ID_MENU_SETTINGS, "Capture Settings"},
    {ID_MENU_COMM_TEST, "Communication Settings"},
    {ID_MENU_ABOUT, "Help"},
};

constexpr MenuTemplate kMenu{.id = IDR_MENU_MAIN, .items = kMenuItems};

}  // namespace

const DialogTemplate& DialogTemplate102() { return kTemplate; }

const MenuTemplate& MenuTemplate129() { return kMenu; }

const MenuTemplate* FindMenuTemplate(unsigned id) { return id == kMenu.id ? &kMenu : nullptr; }

}  // namespace lyr::res
