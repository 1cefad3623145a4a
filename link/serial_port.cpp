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

void CSerialPort::DrainInput() {
    std::array<char, 1024> scratch{};
    for (;;) {
        Sleep(10);
        const quint32 waiting = QueryBytesWaiting();
        if (waiting == 0) return;
        const std::size_t take = std::min<std::size_t>(waiting, 1000);
        if (Handle->read(std::span<char>(scratch.data(), take)) < 0) return;
    }
}

}  // namespace lyr
