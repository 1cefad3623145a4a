#pragma once

#include "res/dialog_template.h"

namespace lyr::res {

// Template 131: the settings dialog.
[[nodiscard]] const DialogTemplate& DialogTemplate131();

}  // namespace lyr::res
