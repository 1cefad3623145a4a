#pragma once

#include <QList>
#include <QString>

#include <memory>

namespace lyr {

struct PortInfo {
    // Kernel name of a tty ("ttyUSB0"), or the full path of a virtual port's link.
    QString portName;
    // What the operator sees, e.g. "FT232R USB UART (ttyUSB0)" or "ZORVA simulator (zorva-1)".
    QString description;
};

// The serial ports present now, in a stable order.
class IPortEnumerator {
  public:
    virtual ~IPortEnumerator() = default;
    [[nodiscard]] virtual QList<PortInfo> enumerate() = 0;
};

// udev's tty devices that are real serial ports (never the console), in udev's order, then the
// live links of the virtual port directory sorted by name.
[[nodiscard]] std::unique_ptr<IPortEnumerator> MakeUdevPortEnumerator();

}  // namespace lyr
