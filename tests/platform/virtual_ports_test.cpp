#include "platform/virtual_ports.h"

#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace lyr {
namespace {

TEST(VirtualPorts, DirectoryFollowsXdgRuntimeDirAndFallsBackToTmp) {
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    EXPECT_EQ(VirtualPortDirectory(), runtime.path() + "/lyrlogger/ports");
    EXPECT_TRUE(EnsureVirtualPortDirectory());
    EXPECT_TRUE(QDir(runtime.path() + "/lyrlogger/ports").exists());

    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(VirtualPortDirectory(), QStringLiteral("/tmp/lyrlogger-%1/ports").arg(::getuid()));
    if (!saved.isEmpty()) qputenv("XDG_RUNTIME_DIR", saved);
}

}  // namespace
}  // namespace lyr
