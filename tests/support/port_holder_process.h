#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <QString>

#include <array>
#include <functional>

#include "platform/serial_device.h"

namespace lyr::test {

// Another process that opens a port the way LyrLogger does and holds it until this object is
// released or destroyed.
class PortHolderProcess {
  public:
    explicit PortHolderProcess(const QString& path) {
        if (::pipe(m_ready.data()) != 0 || ::pipe(m_release.data()) != 0) return;
        m_child = ::fork();
        if (m_child == 0) {
            auto holder = MakeTermiosSerialDevice();
            const char ok = holder->open(path) ? 'y' : 'n';
            (void)!::write(m_ready[1], &ok, 1);
            char dummy = 0;
            (void)!::read(m_release[0], &dummy, 1);
            // Closed explicitly: on a pty whose other end stays open the exclusive flag
            // outlives a descriptor that is merely dropped, and only close() clears it.
            holder->close();
            ::_exit(0);
        }
        char ok = 0;
        m_opened = m_child > 0 && ::read(m_ready[0], &ok, 1) == 1 && ok == 'y';
    }
    ~PortHolderProcess() { Release(); }
    PortHolderProcess(const PortHolderProcess&) = delete;
    PortHolderProcess& operator=(const PortHolderProcess&) = delete;

    // True when the other process holds the port open.
    [[nodiscard]] bool Opened() const { return m_opened; }

    // Lets the other process close the port and waits for its end.
    void Release() {
        if (m_child > 0) {
            (void)!::write(m_release[1], "x", 1);
            int status = 0;
            ::waitpid(m_child, &status, 0);
            m_child = -1;
        }
        for (int& fd : {std::ref(m_ready[0]), std::ref(m_ready[1]), std::ref(m_release[0]),
                        std::ref(m_release[1])}) {
            if (fd >= 0) ::close(fd);
            fd = -1;
        }
    }

  private:
    std::array<int, 2> m_ready{-1, -1};
    std::array<int, 2> m_release{-1, -1};
    pid_t m_child = -1;
    bool m_opened = false;
};

}  // namespace lyr::test
