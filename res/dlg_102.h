#pragma once

#include "res/dialog_template.h"

namespace lyr::res {

// Template 102: the main window.
[[nodiscard]] const DialogTemplate& DialogTemplate102();

// Menu 129: the main window's menu bar.
[[nodiscard]] const MenuTemplate& MenuTemplate129();

}  // namespace lyr::res
