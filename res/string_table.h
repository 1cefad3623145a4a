#pragma once

#include <QString>

namespace lyr {

// The text of string resource `id` from the string table; empty when there is none (as
// LoadString of a missing id gives nothing).
[[nodiscard]] QString LoadString(unsigned id);

}  // namespace lyr
