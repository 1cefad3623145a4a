#include "link/serial_port.h"

#include <algorithm>
#include <array>

#include "platform/tick.h"

namespace lyr {

CSerialPort::CSerialPort(std::unique_ptr<ISerialDevice> device) : Handle(std::move(device)) {}

CSerialPort::~CSerialPort() { Close(); }

bool CSerialPort::Open(const QString& devicePath, quint32 baudRate) {
    if (HandleValid()) return false;
    if (!Handle->open(devicePath) || !Handle->configure(baudRate)) {
        Close();
        return false;
    }
    LineSettings = CommLineSettings{};
    LineSettings.BaudRate = baudRate;
    (void)Handle->purge();
    // Windows' comm event mask has no counterpart: nothing ever waits on line events.
    DevicePath = devicePath;
    return true;
}

void CSerialPort::Close() {
    if (!HandleValid()) return;
    Handle->close();
    DevicePath.clear();
}

quint32 CSerialPort::QueryBytesWaiting() {
    std::uint32_t count = 0;
    if (!HandleValid() || !Handle->bytesWaiting(count)) count = 0;
    CommStatus.cbInQue = count;
    return count;
}

bool CSerialPort::WaitForInput(quint32 timeoutMs) {
    if (!HandleValid()) {
        Sleep(1);
        return false;
    }
    return Handle->waitForInput(timeoutMs);
}

void CSerialPort::DrainInput() {
    // A device that never pauses (a meter with its own data output on, a line that never ends)
    // would hold the open, and the window's thread with it, for ever; what is still coming
    // after this long is discarded by the purge before each command instead.
    constexpr quint32 MaxDrainMs = 1000;
    const quint32 start = GetTickCount();
    std::array<char, 1024> scratch{};
    for (;;) {
        Sleep(10);
        if (static_cast<quint32>(GetTickCount() - start) >= MaxDrainMs) return;
        const quint32 waiting = QueryBytesWaiting();
        if (waiting == 0) return;
        const std::size_t take = std::min<std::size_t>(waiting, 1000);
        if (Handle->read(std::span<char>(scratch.data(), take)) < 0) return;
    }
}

}  // namespace lyr
