#pragma once

#include "res/dialog_template.h"

namespace lyr::res {

// Template 135: the communication test dialog.
[[nodiscard]] const DialogTemplate& DialogTemplate135();

}  // namespace lyr::res
