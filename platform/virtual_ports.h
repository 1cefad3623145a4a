#pragma once

#include <QString>

namespace lyr {

// Directory where simulated meters publish their ports as symbolic links to pseudo-terminals:
// $XDG_RUNTIME_DIR/lyrlogger/ports, or /tmp/lyrlogger-<uid>/ports when that variable is unset.
// The directory is not created here.
[[nodiscard]] QString VirtualPortDirectory();

// Creates the virtual port directory (mode 0700 for the per-user parent) when missing.
[[nodiscard]] bool EnsureVirtualPortDirectory();

}  // namespace lyr
