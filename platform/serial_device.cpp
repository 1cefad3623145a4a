#include "platform/serial_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include <QByteArray>
#include <QFile>

namespace lyr {

void FileDescriptor::reset(int fd) noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

namespace {

// Pseudo-terminals (the simulator, test peers) refuse modem-control ioctls; a refusal of that
// kind means "no modem lines here", not a broken line.
bool ModemControlRefused(int error) {
    return error == ENOTTY || error == EINVAL || error == ENOTSUP || error == EOPNOTSUPP;
}

bool SetModemLine(int fd, unsigned long request, int line) {
    if (::ioctl(fd, request, &line) == 0) return true;
    return ModemControlRefused(errno);
}

class TermiosSerialDevice final : public ISerialDevice {
  public:
    bool open(const QString& path) override {
        close();
        const QByteArray native = QFile::encodeName(path);
        // O_NONBLOCK only for the open itself: without CLOCAL yet, a real UART's open would
        // otherwise wait for carrier detect, which a meter never raises.
        FileDescriptor fd(::open(native.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
        if (!fd) return false;
        if (!::isatty(fd.get())) return false;
        // Both locks, because TIOCEXCL does not bind root and flock binds only those who ask:
        // together a port that is open elsewhere fails to open, as on Windows.
        // The lock first: a port that someone else holds must keep its exclusive flag.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return false;
        if (::ioctl(fd.get(), TIOCEXCL) != 0) return false;
        fd_ = std::move(fd);
        const int flags = ::fcntl(fd_.get(), F_GETFL);
        if (flags < 0 || ::fcntl(fd_.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
            close();
            return false;
        }
        return true;
    }

    bool configure(std::uint32_t baudRate) override {
        const speed_t speed = TermiosSpeed(baudRate);
        if (!fd_ || speed == B0) return false;
        termios tio{};
        if (::tcgetattr(fd_.get(), &tio) != 0) return false;
        ::cfmakeraw(&tio);
        tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_iflag &= ~(IXON | IXOFF | IXANY);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0) return false;
        if (::tcsetattr(fd_.get(), TCSANOW, &tio) != 0) return false;

        // tcsetattr succeeds when any one of the changes was taken; only reading back shows
        // whether the line runs as asked.
        termios back{};
        if (::tcgetattr(fd_.get(), &back) != 0) return false;
        if (::cfgetispeed(&back) != speed || ::cfgetospeed(&back) != speed) return false;
        const tcflag_t cflagMask = CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL | CLOCAL | CREAD;
        if ((back.c_cflag & cflagMask) != (CS8 | CLOCAL | CREAD)) return false;
        if ((back.c_iflag & (IXON | IXOFF)) != 0) return false;
        if (back.c_cc[VMIN] != 0 || back.c_cc[VTIME] != 0) return false;

        return SetModemLine(fd_.get(), TIOCMBIS, TIOCM_RTS) &&
               SetModemLine(fd_.get(), TIOCMBIC, TIOCM_DTR);
    }

    // Only the input is discarded. Windows' purge also drops unsent output, which there is
    // harmless because a synchronous write returns once the driver has sent the line; here
    // write() returns as soon as the line is queued, so dropping output would cut off the tail
    // of the previous command (two commands sent back to back arrive as one, or not at all).
    bool purge() override { return fd_ && ::tcflush(fd_.get(), TCIFLUSH) == 0; }

    bool bytesWaiting(std::uint32_t& count) override {
        count = 0;
        int waiting = 0;
        if (!fd_ || ::ioctl(fd_.get(), FIONREAD, &waiting) != 0 || waiting < 0) return false;
        count = static_cast<std::uint32_t>(waiting);
        return true;
    }

    std::int64_t read(std::span<char> buffer) override {
        if (!fd_) return -1;
        for (;;) {
            const ssize_t n = ::read(fd_.get(), buffer.data(), buffer.size());
            if (n >= 0) return n;
            if (errno != EINTR) return -1;
        }
    }

    bool write(std::span<const char> data) override {
        if (!fd_) return false;
        while (!data.empty()) {
            const ssize_t n = ::write(fd_.get(), data.data(), data.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            data = data.subspan(static_cast<std::size_t>(n));
        }
        return true;
    }

    void close() override {
        if (!fd_) return;
        // The exclusive flag belongs to the tty, not to this descriptor: a pty stays alive while
        // its other end holds a descriptor (the simulator does), and the flag would then lock out
        // every later open, ours included.
        (void)::ioctl(fd_.get(), TIOCNXCL);
        fd_.reset();
    }

    bool isOpen() const override { return fd_.valid(); }

    bool waitForInput(std::uint32_t timeoutMs) override {
        if (!fd_) return ISerialDevice::waitForInput(timeoutMs);
        pollfd p{fd_.get(), POLLIN, 0};
        int ready = 0;
        do {
            ready = ::poll(&p, 1, static_cast<int>(std::min<std::uint32_t>(timeoutMs, 60000)));
        } while (ready < 0 && errno == EINTR);
        if (ready == 0) return false;
        std::uint32_t count = 0;
        if (ready > 0 && (p.revents & POLLIN) != 0 && bytesWaiting(count) && count > 0) return true;
        // Hung up (an unplugged adapter, a simulator that closed its side) or failed: poll would
        // answer at once from now on.
        return ISerialDevice::waitForInput(timeoutMs);
    }

  private:
    FileDescriptor fd_;
};

}  // namespace

speed_t TermiosSpeed(std::uint32_t baudRate) {
    switch (baudRate) {
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 115200:
            return B115200;
        default:
            return B0;
    }
}

std::unique_ptr<ISerialDevice> MakeTermiosSerialDevice() {
    return std::make_unique<TermiosSerialDevice>();
}

}  // namespace lyr
