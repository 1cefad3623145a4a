#pragma once

#include "res/dialog_template.h"

namespace lyr::res {

// Template 100: the version dialog.
[[nodiscard]] const DialogTemplate& DialogTemplate100();

}  // namespace lyr::res
