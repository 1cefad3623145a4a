#pragma once

#include <span>

namespace lyr::res {

// Dialog layouts as data, in the shape of a Windows dialog template: the dialog's own style,
// size and font, then its controls in template order, which is also the tab order and the
// z-order (later controls lie above earlier ones; group boxes are kept beneath everything).
// Rectangles are in dialog units: x units are a quarter of the dialog font's average character
// width, y units an eighth of its height. Texts are UTF-8 placeholders; windows set their
// run-time captions from the string table.

// Style of a dialog.
enum DialogStyle : unsigned {
    DS_VISIBLE = 1u << 0,
    DS_POPUP = 1u << 1,
    DS_CAPTION = 1u << 2,
    DS_SYSMENU = 1u << 3,
    DS_MINIMIZEBOX = 1u << 4,
    DS_MAXIMIZEBOX = 1u << 5,
    DS_MODALFRAME = 1u << 6,
    DS_APPWINDOW = 1u << 7,  // shown in the task bar as a window of its own
};

enum class ControlKind {
    Static,    // text label
    Icon,      // static showing the program icon
    GroupBox,  // frame with a caption; contains nothing, it only lies beneath
    PushButton,
    DefPushButton,  // the dialog's default button (ENTER presses it when no button has focus)
    RadioButton,    // automatic; a radio with CS_GROUP starts a group, the next ones join it
    CheckBox,       // automatic two-state check box
    Edit,           // single-line edit
    ComboDropList,  // drop-down list without an edit part
    ListBox,
};

// Style of a control.
enum ControlStyle : unsigned {
    CS_VISIBLE = 1u << 0,  // without it the control is created hidden
    CS_DISABLED = 1u << 1,
    CS_TABSTOP = 1u << 2,      // TAB stops at it
    CS_GROUP = 1u << 3,        // starts a group (radio groups end at the next control with it)
    CS_CENTER = 1u << 4,       // text centred horizontally
    CS_VCENTER = 1u << 5,      // text centred vertically
    CS_RIGHT = 1u << 6,        // text right-aligned
    CS_NOPREFIX = 1u << 7,     // '&' is shown as it is
    CS_READONLY = 1u << 8,     // edit: read-only
    CS_AUTOHSCROLL = 1u << 9,  // edit: scrolls horizontally as text is typed
    CS_SORT = 1u << 10,        // lists: keep entries sorted
};

struct DialogControl {
    int id;  // IDC_STATIC (-1) for a control nobody refers to
    ControlKind kind;
    int x, y, cx, cy;  // dialog units
    unsigned style;    // ControlStyle flags
    const char* text = "";
    // Initial entries of a combo box or list box (the template's initial data).
    std::span<const char* const> items = {};
};

struct DialogTemplate {
    unsigned id;
    unsigned style;        // DialogStyle flags
    int cx, cy;            // client area, dialog units (a menu bar comes on top of it)
    const char* fontName;  // the face the layout was drawn for; an installed font stands in
    int fontPointSize;
    const char* title;
    unsigned menuId;  // 0: no menu bar
    std::span<const DialogControl> controls;
};

// A menu bar of command items without drop-downs.
struct MenuItem {
    unsigned command;
    const char* text;  // placeholder; windows set the run-time text
};

struct MenuTemplate {
    unsigned id;
    std::span<const MenuItem> items;
};

// The menu template `id`, or nullptr when there is none.
[[nodiscard]] const MenuTemplate* FindMenuTemplate(unsigned id);

}  // namespace lyr::res
