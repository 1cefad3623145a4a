#pragma once

#include <QString>

namespace lyr {

// Where Debian installs LibreOffice.
inline constexpr char kLibreOfficeDirectory[] = "/usr/lib/libreoffice";

// The version text ("7.4") of the LibreOffice Calc installed in `installDirectory`, read from
// the installation's registry data (the product's ooSetupVersion) without starting an office.
// Empty when LibreOffice or its Calc module is not installed there.
[[nodiscard]] QString InstalledCalcVersion(const QString& installDirectory);

}  // namespace lyr
