#pragma once

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/serial_device.h"

namespace lyr::test {

// A tmpfs of the test's own, one page of it left free, so the log fills it after a few hundred
// lines. Needs the right to mount (root in CI); skipped otherwise.
class SmallDisk {
  public:
    SmallDisk() {
        if (!dir.isValid()) return;
        const QByteArray path = QFile::encodeName(dir.path());
        if (::mount("tmpfs", path.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") != 0) {
            error = std::strerror(errno);
            return;
        }
        mounted = true;
        // Fill it, then give back one page: whatever is written next finds the disk full soon.
        const QByteArray filler = QFile::encodeName(dir.filePath("filler"));
        FileDescriptor fd(::open(filler.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        const QByteArray block(4096, 'x');
        off_t size = 0;
        for (;;) {
            const ssize_t n = ::write(fd.get(), block.constData(), block.size());
            if (n <= 0) break;
            size += n;
        }
        if (::ftruncate(fd.get(), std::max<off_t>(0, size - 4096)) != 0) error = "ftruncate";
    }
    ~SmallDisk() {
        if (mounted) ::umount2(QFile::encodeName(dir.path()).constData(), MNT_DETACH);
    }
    [[nodiscard]] QString FilePath(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    bool mounted = false;
    std::string error;
};

}  // namespace lyr::test
