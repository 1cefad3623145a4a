#pragma once

// A meter on a pseudo-terminal whose reading replies are any bytes the test chooses: garbage,
// NUL bytes, lines far longer than any buffer, or a line that never ends. It identifies itself
// as a supported meter and answers the set-up queries, so a run gets as far as its readings.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QString>

#include <atomic>
#include <mutex>
#include <thread>

#include "platform/serial_device.h"
#include "platform/virtual_ports.h"

namespace lyr::test {

class ScriptedMeter {
  public:
    ScriptedMeter() = default;
    ~ScriptedMeter() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
        if (!m_link.isEmpty()) ::unlink(QFile::encodeName(m_link).constData());
    }
    ScriptedMeter(const ScriptedMeter&) = delete;
    ScriptedMeter& operator=(const ScriptedMeter&) = delete;

    // Opens the pty, publishes it in the virtual port directory and starts answering.
    [[nodiscard]] bool Start() {
        m_master.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (!m_master || ::grantpt(m_master.get()) != 0 || ::unlockpt(m_master.get()) != 0)
            return false;
        char name[128] = {};
        if (::ptsname_r(m_master.get(), name, sizeof name) != 0) return false;
        // Our own slave keeps the pty alive while the client closes and reopens it.
        m_slave.reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (!m_slave) return false;
        termios tio{};
        if (::tcgetattr(m_slave.get(), &tio) != 0) return false;
        ::cfmakeraw(&tio);
        if (::tcsetattr(m_slave.get(), TCSANOW, &tio) != 0) return false;
        if (::fcntl(m_master.get(), F_SETFL, O_NONBLOCK) != 0) return false;
        if (!EnsureVirtualPortDirectory()) return false;
        static std::atomic<int> counter{0};
        m_link = VirtualPortDirectory() +
                 QStringLiteral("/scripted-%1-%2").arg(::getpid()).arg(++counter);
        if (::symlink(name, QFile::encodeName(m_link).constData()) != 0) return false;
        m_thread = std::thread([this] { Run(); });
        return true;
    }

    [[nodiscard]] QString PortName() const { return m_link; }

    // The bytes of every reading reply, terminator included (the test decides whether it has
    // one).
    void SetReadingReply(const QByteArray& bytes) {
        std::lock_guard lock(m_mutex);
        m_reply = bytes;
    }
    // While on, each reading query is answered with digits that never end; turning it off ends
    // that line with CR LF, as a meter that recovers would.
    void SetEndless(bool on) { m_endless = on; }
    [[nodiscard]] long long EndlessBytesSent() const { return m_endlessSent; }
    [[nodiscard]] int ReadingQueries() const { return m_readingQueries; }

  private:
    void Run() {
        QByteArray input;
        bool streaming = false;
        while (!m_stop) {
            pollfd fd{m_master.get(), POLLIN, 0};
            if (streaming && m_endless) fd.events |= POLLOUT;
            (void)::poll(&fd, 1, 20);
            if (fd.revents & POLLIN) {
                char buffer[4096];
                const ssize_t n = ::read(m_master.get(), buffer, sizeof buffer);
                for (ssize_t i = 0; i < n; ++i) {
                    if (buffer[i] != '\n') {
                        if (buffer[i] != '\r' && input.size() < 4096) input.append(buffer[i]);
                        continue;
                    }
                    const QByteArray line = std::exchange(input, {});
                    if (Answer(line)) streaming = m_endless;
                }
            }
            if (streaming && !m_endless) {
                streaming = false;
                Write("\r\n");
            }
            if (streaming && (fd.revents & POLLOUT)) {
                static const QByteArray digits(512, '7');
                const ssize_t n = ::write(m_master.get(), digits.constData(), digits.size());
                if (n > 0) m_endlessSent += n;
            }
        }
    }

    // Answers one line; true when it was a reading query.
    bool Answer(const QByteArray& line) {
        if (line.contains("*idn?")) {
            Write("ZORVA,LYR102,S0000001,1.00\r\n");
        } else if (line.contains(":trig:sour?")) {
            Write("IMM\r\n");
        } else if (line.contains("io:input?")) {
            Write("0\r\n");
        } else if (line.contains("TEMP")) {
            Write("23.5\r\n");
        } else if (line.contains("FETC?") || line.contains("READ?")) {
            ++m_readingQueries;
            if (m_endless) return true;
            QByteArray reply;
            {
                std::lock_guard lock(m_mutex);
                reply = m_reply;
            }
            Write(reply);
            return true;
        }
        return false;
    }

    // Writes everything, waiting while the pty is full; gives up on stop.
    void Write(QByteArray bytes) {
        while (!bytes.isEmpty() && !m_stop) {
            const ssize_t n = ::write(m_master.get(), bytes.constData(), bytes.size());
            if (n > 0) {
                bytes.remove(0, n);
            } else {
                pollfd fd{m_master.get(), POLLOUT, 0};
                (void)::poll(&fd, 1, 20);
            }
        }
    }

    FileDescriptor m_master;
    FileDescriptor m_slave;
    QString m_link;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_endless{false};
    std::atomic<long long> m_endlessSent{0};
    std::atomic<int> m_readingQueries{0};
    std::mutex m_mutex;  // protects m_reply
    QByteArray m_reply = "1.0000E-03,IN\r\n";
};

}  // namespace lyr::test
