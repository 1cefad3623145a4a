#pragma once

#include <QtGlobal>

#include <cstdint>
#include <memory>

namespace lyr {

using WPARAM = quintptr;
using LPARAM = qintptr;
using LRESULT = qintptr;

// Window messages keep their Windows numbers.
inline constexpr unsigned WM_USER = 0x400;

// Data a posted message owns. wParam and lParam of a message that carries a payload point into
// it, and the payload lives as long as the message, so a message handled after its sender is
// gone never reads freed memory.
class MessagePayload {
public:
    virtual ~MessagePayload() = default;
};

// The window a worker thread reports to. The main window implements it; tests use a recording
// stand-in.
class INotifyWindow {
public:
    virtual ~INotifyWindow() = default;

    // Queues the message to the window's thread and returns at once.
    virtual void Post(unsigned message, WPARAM wParam, LPARAM lParam,
                      std::shared_ptr<const MessagePayload> payload = {}) = 0;

    // From another thread: blocks until the window's thread has handled the message. From the
    // window's own thread: calls the handler directly.
    virtual LRESULT Send(unsigned message, WPARAM wParam, LPARAM lParam) = 0;
};

}  // namespace lyr
