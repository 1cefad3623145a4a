#include "res/dlg_100.h"

#include "res/resource.h"

namespace lyr::res {

namespace {

using K = ControlKind;

constexpr DialogControl kControls[] = {
    {IDC_STATIC, K::Icon, 11, 17, 20, 20, CS_VISIBLE, ""},
    // Ends where the version number starts.
    {IDC_STATIC, K::Static, 40, 10, 68, 8, CS_VISIBLE | CS_NOPREFIX, "LyrLogger Version"},
    {IDC_STATIC, K::Static, 40, 25, 164, 8, CS_VISIBLE,
     "Data logger for ZORVA meters. MIT License."},
    {IDOK_BUTTON, K::DefPushButton, 78, 48, 50, 16, CS_VISIBLE | CS_TABSTOP | CS_GROUP, "OK"},
    // The window puts the version resource's number here; "1.00" is never seen.
    {IDC_ABOUT_VERSION, K::Static, 109, 10, 36, 8, CS_VISIBLE | CS_NOPREFIX, "1.00"},
};

constexpr DialogTemplate kTemplate{
    .id = IDD_ABOUTBOX,
    .style = DS_POPUP | DS_CAPTION | DS_SYSMENU | DS_MODALFRAME,
    .cx = 210,
    .cy = 75,
    .fontName = "MS Sans Serif",
    .fontPointSize = 9,
    .title = "Version Information",
    .menuId = 0,
    .controls = kControls,
};

}  // namespace

const DialogTemplate& DialogTemplate100() { return kTemplate; }

}  // namespace lyr::res
