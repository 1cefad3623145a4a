#pragma once

#include <termios.h>

#include <QString>

#include <cstdint>
#include <chrono>
#include <memory>
#include <thread>
#include <span>

namespace lyr {

// A file descriptor that closes itself; -1 while it holds none.
class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }

    [[nodiscard]] int get() const noexcept { return fd_; }
    [[nodiscard]] bool valid() const noexcept { return fd_ >= 0; }
    explicit operator bool() const noexcept { return valid(); }
    [[nodiscard]] int release() noexcept {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) noexcept;

  private:
    int fd_ = -1;
};

// One serial line to a meter. The real implementation drives a tty with termios; tests put an
// in-memory stand-in in its place. Nothing here blocks on the device: reads take only the bytes
// already waiting.
class ISerialDevice {
  public:
    virtual ~ISerialDevice() = default;

    // Opens the tty exclusively: a port that another process holds open fails to open, and a
    // port opened here cannot be opened by anyone else until it is closed.
    [[nodiscard]] virtual bool open(const QString& path) = 0;
    // 8 data bits, no parity, 1 stop bit, no flow control, raw, reads never wait; RTS on, DTR
    // off, no hang-up on close. Only 9600, 19200, 38400 and 115200 are accepted, and the
    // settings are read back to confirm the line took them.
    [[nodiscard]] virtual bool configure(std::uint32_t baudRate) = 0;
    // Discards unread input (never unsent output: see the implementation).
    virtual bool purge() = 0;
    // Number of received bytes waiting to be read; false when the query fails.
    [[nodiscard]] virtual bool bytesWaiting(std::uint32_t& count) = 0;
    // Reads at most buffer.size() bytes that are waiting; the count read, or -1 on an error.
    [[nodiscard]] virtual std::int64_t read(std::span<char> buffer) = 0;
    // Writes every byte; false on an error or when the line took fewer bytes.
    [[nodiscard]] virtual bool write(std::span<const char> data) = 0;
    virtual void close() = 0;
    [[nodiscard]] virtual bool isOpen() const = 0;
    // Waits until input is waiting or `timeoutMs` has passed; true when input is waiting. A
    // line that has hung up, or a device that cannot wait, paces the caller with a 1 ms sleep
    // instead of returning at once for ever.
    virtual bool waitForInput(std::uint32_t timeoutMs) {
        (void)timeoutMs;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::uint32_t count = 0;
        return bytesWaiting(count) && count > 0;
    }
};

// The termios speed code of one of the meters' rates (9600, 19200, 38400, 115200); B0 for any
// other rate, which the line refuses.
[[nodiscard]] speed_t TermiosSpeed(std::uint32_t baudRate);

// The termios implementation.
[[nodiscard]] std::unique_ptr<ISerialDevice> MakeTermiosSerialDevice();

}  // namespace lyr
