#include "bench/program/wire_relay.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include <QFile>

#include "platform/serial_device.h"
#include "platform/virtual_ports.h"

namespace lyr::bench {
namespace {

bool MakeRaw(int fd, speed_t speed) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return false;
    ::cfmakeraw(&tio);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (speed != B0 && (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0))
        return false;
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

std::atomic<int> g_relayCounter{0};

}  // namespace

WireRelay::WireRelay(QString meterPort, quint32 baudRate, bool paceQueries)
    : m_meterPort(std::move(meterPort)), m_baudRate(baudRate), m_paceQueries(paceQueries) {}

WireRelay::~WireRelay() {
    m_stop = true;
    if (m_wake >= 0) (void)::eventfd_write(m_wake, 1);
    if (m_thread.joinable()) m_thread.join();
    if (!m_linkPath.isEmpty()) QFile::remove(m_linkPath);
    for (int* fd : {&m_meterFd, &m_master, &m_slave, &m_wake}) CloseFd(*fd);
}

bool WireRelay::Start() {
    const speed_t speed = TermiosSpeed(m_baudRate);
    if (speed == B0) return false;
    // The simulator answers only while its line runs at its baud rate, so the relay's end of
    // the meter's line is set to that rate, whatever the client sets on its own end.
    m_meterFd =
        ::open(m_meterPort.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_meterFd < 0 || !MakeRaw(m_meterFd, speed)) return false;
    if (::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0) return false;
    if (!MakeRaw(m_slave, speed)) return false;
    for (int fd : {m_master, m_slave})
        (void)::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
    (void)::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wake < 0) return false;

    if (!EnsureVirtualPortDirectory()) return false;
    std::array<char, 128> slaveName{};
    if (::ptsname_r(m_master, slaveName.data(), slaveName.size()) != 0) return false;
    m_linkPath = VirtualPortDirectory() +
                 QStringLiteral("/bench-relay-%1-%2").arg(::getpid()).arg(++g_relayCounter);
    QFile::remove(m_linkPath);
    if (::symlink(slaveName.data(), m_linkPath.toLocal8Bit().constData()) != 0) {
        m_linkPath.clear();
        return false;
    }
    m_thread = std::thread([this] { Run(); });
    return true;
}

std::vector<WireRelay::Clock::time_point> WireRelay::FetchReplyTimes() const {
    std::lock_guard lock(m_mutex);
    return m_fetchReplyTimes;
}

std::vector<WireRelay::Clock::time_point> WireRelay::FetchQueryTimes() const {
    std::lock_guard lock(m_mutex);
    return m_fetchQueryTimes;
}

void WireRelay::Run() {
    std::array<char, 4096> buffer{};
    while (!m_stop) {
        Clock::time_point now = Clock::now();
        auto wait = std::chrono::nanoseconds(std::chrono::milliseconds(100));
        if (m_heldFirst < m_held.size())
            wait = std::clamp<std::chrono::nanoseconds>(m_held[m_heldFirst].due - now,
                                                        std::chrono::nanoseconds(0), wait);
        timespec ts{static_cast<time_t>(wait.count() / 1'000'000'000),
                    static_cast<long>(wait.count() % 1'000'000'000)};
        std::array<pollfd, 3> fds{
            {{m_wake, POLLIN, 0}, {m_master, POLLIN, 0}, {m_meterFd, POLLIN, 0}}};
        if (::ppoll(fds.data(), fds.size(), &ts, nullptr) < 0 && errno != EINTR) break;
        if (m_stop) break;
        now = Clock::now();

        // The meter's bytes first: they are already late by their own wire time.
        if (fds[2].revents & POLLIN) {
            const ssize_t got = ::read(m_meterFd, buffer.data(), buffer.size());
            if (got > 0) FromMeter(buffer.data(), got);
        }
        if (fds[1].revents & POLLIN) {
            const ssize_t got = ::read(m_master, buffer.data(), buffer.size());
            if (got > 0) FromClient(buffer.data(), got, now);
        } else if (fds[1].revents & (POLLHUP | POLLERR)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // never spin on it
        }

        // Client bytes whose wire time is over go to the meter.
        now = Clock::now();
        std::size_t due = m_heldFirst;
        while (due < m_held.size() && m_held[due].due <= now) ++due;
        if (due > m_heldFirst) {
            QByteArray out;
            for (std::size_t i = m_heldFirst; i < due; ++i) out.append(m_held[i].byte);
            (void)::write(m_meterFd, out.constData(), static_cast<size_t>(out.size()));
            m_heldFirst = due;
            if (m_heldFirst == m_held.size()) {
                m_held.clear();
                m_heldFirst = 0;
            }
        }
    }
}

void WireRelay::FromClient(const char* data, long size, Clock::time_point now) {
    const auto byteTime = std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(10'000'000'000LL / m_baudRate));
    for (long i = 0; i < size; ++i) {
        if (m_paceQueries) {
            m_wireFreeAt = std::max(m_wireFreeAt, now) + byteTime;
            m_held.push_back({data[i], m_wireFreeAt});
        } else {
            m_held.push_back({data[i], now});
        }
        m_clientLine.append(data[i]);
        if (data[i] != '\n') continue;
        const QByteArray line = m_clientLine.toUpper();
        if (line.contains("FETC")) {
            m_awaiting = Awaiting::Fetch;
            m_fetchQueryBytes = static_cast<int>(m_clientLine.size());
            std::lock_guard lock(m_mutex);
            m_fetchQueryTimes.push_back(now);
        } else if (line.contains('?')) {
            m_awaiting = Awaiting::Other;
        }
        m_clientLine.clear();
    }
}

void WireRelay::FromMeter(const char* data, long size) {
    // Passed on byte run by byte run as read; the master of a pty takes a few kilobytes at once.
    long written = 0;
    while (written < size) {
        const ssize_t n = ::write(m_master, data + written, static_cast<size_t>(size - written));
        if (n < 0) {
            if (errno == EAGAIN) {
                std::this_thread::sleep_for(std::chrono::microseconds(100));
                continue;
            }
            return;
        }
        written += n;
    }
    const Clock::time_point now = Clock::now();
    for (long i = 0; i < size; ++i) {
        m_meterLine.append(data[i]);
        if (data[i] != '\n') continue;
        if (m_awaiting == Awaiting::Fetch) {
            m_fetchReplyBytes = static_cast<int>(m_meterLine.size());
            std::lock_guard lock(m_mutex);
            m_fetchReplyTimes.push_back(now);
        }
        m_awaiting = Awaiting::Nothing;
        m_meterLine.clear();
    }
}

}  // namespace lyr::bench
