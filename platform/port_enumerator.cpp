#include "platform/port_enumerator.h"

#include <libudev.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include "platform/virtual_ports.h"

namespace lyr {

namespace {

struct UdevDeleter {
    void operator()(udev* u) const noexcept { udev_unref(u); }
};
struct UdevEnumerateDeleter {
    void operator()(udev_enumerate* e) const noexcept { udev_enumerate_unref(e); }
};
struct UdevDeviceDeleter {
    void operator()(udev_device* d) const noexcept { udev_device_unref(d); }
};
using udev_ptr = std::unique_ptr<udev, UdevDeleter>;
using udev_enumerate_ptr = std::unique_ptr<udev_enumerate, UdevEnumerateDeleter>;
using udev_device_ptr = std::unique_ptr<udev_device, UdevDeviceDeleter>;

QString Text(const char* value) {
    return value != nullptr ? QString::fromUtf8(value).trimmed() : QString();
}

QString JoinKnown(const QString& first, const QString& second) {
    if (first.isEmpty()) return second;
    if (second.isEmpty()) return first;
    return first + u' ' + second;
}

// Kernel names of the ttys that carry a console, from /proc/consoles ("ttyS0 -W- (EC p a) 4:64").
QSet<QString> ConsoleNames() {
    QSet<QString> names;
    QFile file(QStringLiteral("/proc/consoles"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return names;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QByteArray name = line.simplified().split(' ').value(0);
        if (!name.isEmpty()) names.insert(QString::fromUtf8(name));
    }
    return names;
}

// Model and vendor names as udev's hardware database knows them; without a running udev daemon
// only the kernel's view is there, so the USB parent's strings or the driver stand in.
QString DescriptionOf(udev_device* tty, udev_device* parent) {
    const QString modelDb = Text(udev_device_get_property_value(tty, "ID_MODEL_FROM_DATABASE"));
    const QString vendorDb = Text(udev_device_get_property_value(tty, "ID_VENDOR_FROM_DATABASE"));
    if (!modelDb.isEmpty() || !vendorDb.isEmpty()) return JoinKnown(vendorDb, modelDb);
    const QString model = Text(udev_device_get_property_value(tty, "ID_MODEL"));
    if (!model.isEmpty()) return QString(model).replace(u'_', u' ');

    if (udev_device* usb =
            udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device")) {
        const QString maker = Text(udev_device_get_sysattr_value(usb, "manufacturer"));
        const QString product = Text(udev_device_get_sysattr_value(usb, "product"));
        const QString both = JoinKnown(maker, product);
        if (!both.isEmpty()) return both;
    }
    for (udev_device* d = parent; d != nullptr; d = udev_device_get_parent(d)) {
        const QString driver = Text(udev_device_get_driver(d));
        if (!driver.isEmpty()) return driver;
    }
    return QStringLiteral("Serial port");
}

void AppendUdevPorts(QList<PortInfo>& ports) {
    udev_ptr context(udev_new());
    if (!context) return;
    udev_enumerate_ptr enumerate(udev_enumerate_new(context.get()));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0)
        return;

    const QSet<QString> consoles = ConsoleNames();
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        udev_device_ptr tty(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (!tty) continue;
        // Virtual terminals, ptmx and other consoles have no parent device; serial ports do.
        udev_device* parent = udev_device_get_parent(tty.get());
        if (parent == nullptr) continue;
        const QString name = Text(udev_device_get_sysname(tty.get()));
        if (name.isEmpty() || udev_device_get_devnode(tty.get()) == nullptr) continue;
        // The 8250 driver registers placeholder ports without a UART behind them.
        if (Text(udev_device_get_sysattr_value(tty.get(), "type")) == QLatin1String("0")) continue;
        // Never offer the kernel console: the all-ports search would write to it.
        if (Text(udev_device_get_sysattr_value(tty.get(), "console")) == QLatin1String("Y") ||
            consoles.contains(name))
            continue;
        // Ttys in a /dev subdirectory carry '!' for '/' in their kernel name; such a port is named
        // by its full device path.
        const QString portName =
            name.contains(u'/') ? Text(udev_device_get_devnode(tty.get())) : name;
        ports.append(
            {portName, DescriptionOf(tty.get(), parent) + QStringLiteral(" (") + name + u')'});
    }
}

void AppendVirtualPorts(QList<PortInfo>& ports) {
    const QDir dir(VirtualPortDirectory());
    const QFileInfoList links =
        dir.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& link : links) {
        // exists() follows the link: a simulator that died leaves a dangling one behind.
        if (!link.isSymLink() || !link.exists()) continue;
        ports.append({link.absoluteFilePath(),
                      QStringLiteral("ZORVA simulator (") + link.fileName() + u')'});
    }
}

class UdevPortEnumerator final : public IPortEnumerator {
  public:
    QList<PortInfo> enumerate() override {
        QList<PortInfo> ports;
        AppendUdevPorts(ports);
        AppendVirtualPorts(ports);
        return ports;
    }
};

}  // namespace

std::unique_ptr<IPortEnumerator> MakeUdevPortEnumerator() {
    return std::make_unique<UdevPortEnumerator>();
}

}  // namespace lyr
