#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>

#include "platform/serial_device.h"

namespace lyr::test {

// An in-memory serial line. Bytes fed with feedReceived() wait until read, each feed being one
// chunk only if the reader polls between feeds. Every call is recorded in operations() so that
// tests can check the order of purge and write. Thread-safe, so a test thread may feed bytes
// while the link waits in ReceiveReply.
class MemorySerialDevice final : public lyr::ISerialDevice {
  public:
    enum class Fault { None, BytesWaiting, Read, ShortRead, Write, ShortWrite };

    // Called with every complete line written (without CR LF) and the line's rate; what it
    // returns is queued as received, as if the meter answered at once. It runs under the
    // device's lock and must not call back into the device.
    using Responder = std::function<QByteArray(const QByteArray& line, std::uint32_t rate)>;

    void setOpenResult(bool ok) {
        std::lock_guard lock(mutex_);
        openResult_ = ok;
    }
    void setAcceptedRates(std::set<std::uint32_t> rates) {
        std::lock_guard lock(mutex_);
        acceptedRates_ = std::move(rates);
    }
    void setResponder(Responder responder) {
        std::lock_guard lock(mutex_);
        responder_ = std::move(responder);
    }
    void feedReceived(const QByteArray& bytes) {
        std::lock_guard lock(mutex_);
        input_.append(bytes);
    }
    void injectError(Fault fault) {
        std::lock_guard lock(mutex_);
        fault_ = fault;
    }
    [[nodiscard]] QByteArray writtenData() const {
        std::lock_guard lock(mutex_);
        return written_;
    }
    // The lines written, without CR LF; an empty entry is a bare line end.
    [[nodiscard]] QList<QByteArray> writtenLines() const {
        std::lock_guard lock(mutex_);
        QList<QByteArray> lines = written_.split('\n');
        lines.removeLast();  // after the last LF
        for (QByteArray& line : lines) line.chop(1);
        return lines;
    }
    void clearWritten() {
        std::lock_guard lock(mutex_);
        written_.clear();
        operations_.clear();
    }
    [[nodiscard]] QStringList operations() const {
        std::lock_guard lock(mutex_);
        return operations_;
    }
    [[nodiscard]] QString openedPath() const {
        std::lock_guard lock(mutex_);
        return path_;
    }
    [[nodiscard]] int openCount() const {
        std::lock_guard lock(mutex_);
        return openCount_;
    }
    [[nodiscard]] std::uint32_t rate() const {
        std::lock_guard lock(mutex_);
        return rate_;
    }

    bool open(const QString& path) override {
        std::lock_guard lock(mutex_);
        ++openCount_;
        operations_ << QStringLiteral("open ") + path;
        if (!openResult_ || open_) return false;
        open_ = true;
        path_ = path;
        return true;
    }
    bool configure(std::uint32_t baudRate) override {
        std::lock_guard lock(mutex_);
        operations_ << QStringLiteral("configure %1").arg(baudRate);
        if (!open_ || !acceptedRates_.contains(baudRate)) return false;
        rate_ = baudRate;
        return true;
    }
    bool purge() override {
        std::lock_guard lock(mutex_);
        operations_ << QStringLiteral("purge");
        input_.clear();
        return open_;
    }
    bool bytesWaiting(std::uint32_t& count) override {
        std::lock_guard lock(mutex_);
        count = 0;
        if (!open_ || fault_ == Fault::BytesWaiting) return false;
        count = static_cast<std::uint32_t>(input_.size());
        return true;
    }
    std::int64_t read(std::span<char> buffer) override {
        std::lock_guard lock(mutex_);
        if (!open_ || fault_ == Fault::Read) {
            input_.clear();
            return -1;
        }
        auto n = std::min<qsizetype>(input_.size(), static_cast<qsizetype>(buffer.size()));
        if (fault_ == Fault::ShortRead && n > 0) --n;
        std::memcpy(buffer.data(), input_.constData(), static_cast<std::size_t>(n));
        input_.remove(0, n);
        return n;
    }
    bool write(std::span<const char> data) override {
        std::lock_guard lock(mutex_);
        const QByteArray bytes(data.data(), static_cast<qsizetype>(data.size()));
        operations_ << QStringLiteral("write ") + QString::fromLatin1(bytes);
        if (!open_ || fault_ == Fault::Write) return false;
        if (fault_ == Fault::ShortWrite) {
            written_.append(bytes.left(bytes.size() / 2));
            return false;
        }
        written_.append(bytes);
        pending_.append(bytes);
        for (qsizetype end; (end = pending_.indexOf("\r\n")) >= 0;) {
            const QByteArray line = pending_.left(end);
            pending_.remove(0, end + 2);
            if (responder_) input_.append(responder_(line, rate_));
        }
        return true;
    }
    void close() override {
        std::lock_guard lock(mutex_);
        operations_ << QStringLiteral("close");
        open_ = false;
        path_.clear();
        input_.clear();
    }
    bool isOpen() const override {
        std::lock_guard lock(mutex_);
        return open_;
    }

  private:
    mutable std::mutex mutex_;  // protects every member below
    bool openResult_ = true;
    std::set<std::uint32_t> acceptedRates_{9600, 19200, 38400, 115200};
    Responder responder_;
    Fault fault_ = Fault::None;
    bool open_ = false;
    QString path_;
    int openCount_ = 0;
    std::uint32_t rate_ = 0;
    QByteArray input_;
    QByteArray written_;
    QByteArray pending_;
    QStringList operations_;
};

}  // namespace lyr::test
