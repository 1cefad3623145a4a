#pragma once

#include <QString>

#include <cstdint>
#include <memory>

#include "platform/serial_device.h"

namespace lyr {

// What the last status query of the input queue reported.
struct CommStatusInfo {
    quint32 cbInQue = 0;  // bytes waiting to be read
};

// The line settings applied at open. Everything but the rate is fixed by the meters' protocol.
struct CommLineSettings {
    quint32 BaudRate = 0;
    quint8 ByteSize = 8;
    bool ParityEnabled = false;
    quint8 StopBits = 1;
    bool RtsOn = true;
    bool DtrOn = false;
};

// The low-level channel: owns one serial device and its line settings. Open, Close and
// DrainInput take no lock; they run only while no exchange can be in progress.
class CSerialPort {
  public:
    explicit CSerialPort(std::unique_ptr<ISerialDevice> device);
    ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // Fails without changing anything when a port is already open; any other failure leaves the
    // port closed.
    [[nodiscard]] bool Open(const QString& devicePath, quint32 baudRate);
    void Close();
    // Reads and discards input until a 10 ms pause passes with nothing waiting, for at most
    // one second.
    void DrainInput();

    // The counterpart of a valid handle.
    [[nodiscard]] bool HandleValid() const { return Handle->isOpen(); }

    // The path that was opened; empty while closed. A non-empty path means "a port is open".
    QString DevicePath;
    CommStatusInfo CommStatus;
    CommLineSettings LineSettings;

    // Waits up to `timeoutMs` for input to arrive (at least 1 ms when the port is closed or has
    // hung up); true when input is waiting. Takes no lock: it reads nothing.
    bool WaitForInput(quint32 timeoutMs);

  protected:
    // The waiting byte count into CommStatus; 0 when closed or when the query fails.
    quint32 QueryBytesWaiting();

    // Stands where the Windows handle stood; it is open exactly while the handle would be valid.
    std::unique_ptr<ISerialDevice> Handle;
};

}  // namespace lyr
