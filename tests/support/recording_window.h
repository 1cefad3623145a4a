#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "measure/meas_messages.h"
#include "platform/notify_window.h"

namespace lyr::test {

// A window stand-in that records every message. The thread that constructs it is the window's
// thread. Like the real window, a Send from another thread blocks its caller until the window's
// thread has handled it (Pump / WaitUntil on that thread), and a Send from the window's own
// thread is handled at once. In auto-handle mode every message is handled on arrival on the
// caller's thread, as by a window idling in its message loop, and no Send blocks.
//
// The texts that wParam and lParam point to are copied when the message arrives, while the
// sender's buffers are still valid.
class RecordingWindow final : public INotifyWindow {
  public:
    struct Message {
        unsigned message = 0;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
        bool sent = false;  // Send rather than Post
        // WM_MEAS_READING: the reading; WM_MEAS_IDENTITY: the serial number;
        // WM_MEAS_TEMPERATURE: the temperature.
        QString text;
        QString model;                   // WM_MEAS_IDENTITY
        ReadingRecord record{};          // WM_MEAS_READING
        quint64 runId = 0;               // WM_MEAS_READING
        bool pointsIntoPayload = false;  // WM_MEAS_READING: wParam/lParam point into the payload
        std::shared_ptr<const MessagePayload> payload;
        std::chrono::steady_clock::time_point at;
    };
    using Messages = std::vector<Message>;
    // Runs when a message is handled: on the window's thread, or in auto-handle mode on the
    // thread that posted or sent it. Never called with the window's lock held.
    using Handler = std::function<void(const Message&)>;

    explicit RecordingWindow(bool autoHandle = false)
        : windowThread(std::this_thread::get_id()), autoHandle(autoHandle) {}
    RecordingWindow(const RecordingWindow&) = delete;
    RecordingWindow& operator=(const RecordingWindow&) = delete;

    void SetHandler(Handler h) {
        std::lock_guard guard(lock);
        handler = std::move(h);
    }

    void Post(unsigned message, WPARAM wParam, LPARAM lParam,
              std::shared_ptr<const MessagePayload> payload = {}) override {
        Message m = Decode(message, wParam, lParam, false, std::move(payload));
        Handler h;
        {
            std::lock_guard guard(lock);
            log.push_back(m);
            if (autoHandle) {
                h = handler;
            } else {
                queue.push_back({m, nullptr});
            }
        }
        changed.notify_all();
        if (h) h(m);
    }

    LRESULT Send(unsigned message, WPARAM wParam, LPARAM lParam) override {
        Message m = Decode(message, wParam, lParam, true, {});
        std::shared_ptr<bool> handled;
        Handler h;
        {
            std::lock_guard guard(lock);
            log.push_back(m);
            if (autoHandle || std::this_thread::get_id() == windowThread) {
                h = handler;
            } else {
                handled = std::make_shared<bool>(false);
                queue.push_back({m, handled});
            }
        }
        changed.notify_all();
        if (!handled) {
            if (h) h(m);
            return 0;
        }
        std::unique_lock wait(lock);
        changed.wait(wait, [&] { return *handled; });
        return 0;
    }

    // On the window's thread: handles queued messages in order and waits for more until `done`
    // (evaluated on the recorded messages) holds or `timeoutMs` has passed. True when done.
    bool WaitUntil(const std::function<bool(const Messages&)>& done, int timeoutMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::unique_lock guard(lock);
        for (;;) {
            while (!queue.empty()) {
                Queued item = std::move(queue.front());
                queue.pop_front();
                Handler h = handler;
                guard.unlock();
                if (h) h(item.message);
                guard.lock();
                if (item.handled) {
                    *item.handled = true;
                    changed.notify_all();
                }
            }
            if (done(log)) return true;
            if (changed.wait_until(guard, deadline) == std::cv_status::timeout && queue.empty())
                return done(log);
        }
    }

    // Handles what is queued now and returns.
    void Pump() {
        (void)WaitUntil([](const Messages&) { return true; }, 0);
    }

    // Waits (pumping) until `count` messages of number `message` have arrived.
    bool WaitForCount(unsigned message, std::size_t count, int timeoutMs) {
        return WaitUntil([&](const Messages& ms) { return CountIn(ms, message) >= count; },
                         timeoutMs);
    }

    [[nodiscard]] Messages All() const {
        std::lock_guard guard(lock);
        return log;
    }
    [[nodiscard]] Messages Of(unsigned message) const {
        std::lock_guard guard(lock);
        Messages out;
        for (const Message& m : log)
            if (m.message == message) out.push_back(m);
        return out;
    }
    [[nodiscard]] std::size_t Count(unsigned message) const {
        std::lock_guard guard(lock);
        return CountIn(log, message);
    }
    // Sends whose senders are still blocked.
    [[nodiscard]] std::size_t PendingSends() const {
        std::lock_guard guard(lock);
        std::size_t n = 0;
        for (const Queued& q : queue) n += q.handled ? 1 : 0;
        return n;
    }
    void Clear() {
        std::lock_guard guard(lock);
        log.clear();
    }

    static std::size_t CountIn(const Messages& ms, unsigned message) {
        std::size_t n = 0;
        for (const Message& m : ms) n += m.message == message ? 1 : 0;
        return n;
    }

  private:
    struct Queued {
        Message message;
        std::shared_ptr<bool> handled;  // a Send whose sender waits; nullptr for a Post
    };

    static Message Decode(unsigned message, WPARAM wParam, LPARAM lParam, bool sent,
                          std::shared_ptr<const MessagePayload> payload) {
        Message m;
        m.message = message;
        m.wParam = wParam;
        m.lParam = lParam;
        m.sent = sent;
        m.at = std::chrono::steady_clock::now();
        if (message == WM_MEAS_READING) {
            if (const ReadingPayload* p = ReadingPayloadOf(payload.get())) {
                m.pointsIntoPayload = wParam == p->TextParam() && lParam == p->RecordParam();
                m.runId = p->RunId;
            }
            m.text = TextAt(wParam);
            if (lParam != 0) m.record = *reinterpret_cast<const ReadingRecord*>(lParam);
        } else if (message == WM_MEAS_IDENTITY) {
            m.text = TextAt(wParam);
            m.model = TextAt(static_cast<quintptr>(lParam));
        } else if (message == WM_MEAS_TEMPERATURE) {
            m.text = TextAt(wParam);
        }
        m.payload = std::move(payload);
        return m;
    }

    const std::thread::id windowThread;
    const bool autoHandle;
    // Protects log, queue, handler and the `handled` flags of queued sends.
    mutable std::mutex lock;
    std::condition_variable changed;
    Messages log;
    std::deque<Queued> queue;
    Handler handler;
};

}  // namespace lyr::test
