#pragma once

// A CMeterComm on the in-memory serial line, opened once per fuzzing process: opening drains
// the line for 10 ms, far too slow to repeat for every input.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>

#include <QByteArray>

#include "link/meter_comm.h"
#include "support/fake_port_enumerator.h"
#include "support/memory_serial_device.h"

namespace lyr::fuzz {

// Hands the memory line one queued chunk each time the link finds nothing waiting, so that a
// blocking receive meets the chunks one by one, as bytes trickle in from a real meter. With
// nothing queued it is the memory line itself.
class ChunkFeeder final : public ISerialDevice {
  public:
    test::MemorySerialDevice Line;
    std::deque<QByteArray> Chunks;

    bool open(const QString& path) override { return Line.open(path); }
    bool configure(std::uint32_t baudRate) override { return Line.configure(baudRate); }
    bool purge() override { return Line.purge(); }
    bool bytesWaiting(std::uint32_t& count) override {
        if (!Line.bytesWaiting(count)) return false;
        if (count == 0 && !Chunks.empty()) {
            Line.feedReceived(Chunks.front());
            Chunks.pop_front();
            return Line.bytesWaiting(count);
        }
        return true;
    }
    std::int64_t read(std::span<char> buffer) override { return Line.read(buffer); }
    bool write(std::span<const char> data) override { return Line.write(data); }
    void close() override { Line.close(); }
    bool isOpen() const override { return Line.isOpen(); }
};

struct FuzzLink {
    ChunkFeeder* Device = nullptr;  // owned by Comm
    std::unique_ptr<CMeterComm> Comm;
};

[[nodiscard]] inline FuzzLink& TheFuzzLink() {
    static FuzzLink link = [] {
        FuzzLink made;
        auto device = std::make_unique<ChunkFeeder>();
        made.Device = device.get();
        made.Comm = std::make_unique<CMeterComm>(std::move(device),
                                                 std::make_unique<test::FakePortEnumerator>());
        if (!made.Comm->OpenPort(QStringLiteral("ttyFUZZ0"), 9600)) {
            std::fprintf(stderr, "the memory line does not open\n");
            std::abort();
        }
        return made;
    }();
    return link;
}

[[noreturn]] inline void Fail(const char* target, const char* what) {
    std::fprintf(stderr, "%s: %s\n", target, what);
    std::abort();
}

}  // namespace lyr::fuzz
