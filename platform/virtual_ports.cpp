#include "platform/virtual_ports.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>

namespace lyr {

namespace {
QString RuntimeBase() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) return QString::fromLocal8Bit(runtime) + QStringLiteral("/lyrlogger");
    return QStringLiteral("/tmp/lyrlogger-%1").arg(::getuid());
}
}  // namespace

QString VirtualPortDirectory() { return RuntimeBase() + QStringLiteral("/ports"); }

bool EnsureVirtualPortDirectory() {
    const QByteArray base = RuntimeBase().toLocal8Bit();
    // In /tmp another user could have planted the directory; only ours with mode 0700 is trusted.
    if (::mkdir(base.constData(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st{};
    if (::lstat(base.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return false;
    const QByteArray ports = VirtualPortDirectory().toLocal8Bit();
    if (::mkdir(ports.constData(), 0700) != 0 && errno != EEXIST) return false;
    return ::lstat(ports.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace lyr
