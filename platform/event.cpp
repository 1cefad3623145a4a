#include "platform/event.h"

#include <chrono>

namespace lyr {
namespace {

// Made on first use, so events made during static initialisation of another file find it
// built, and never destroyed, so a wait still running while the process exits finds it intact.
struct SharedState {
    // Protects `signalled` of every Event.
    std::mutex Lock;
    // Notified on every Set; each waiter re-checks its own events.
    std::condition_variable Changed;
};

SharedState& Shared() {
    static SharedState* const state = new SharedState;
    return *state;
}

}  // namespace

Event::Event(bool initiallySignalled) : signalled(initiallySignalled) {}

void Event::Set() {
    {
        std::lock_guard guard(Shared().Lock);
        signalled = true;
    }
    Shared().Changed.notify_all();
}

void Event::Reset() {
    std::lock_guard guard(Shared().Lock);
    signalled = false;
}

bool Event::IsSet() const {
    std::lock_guard guard(Shared().Lock);
    return signalled;
}

template <typename Predicate>
WaitResult Event::WaitUntil(std::unique_lock<std::mutex>& lock, std::uint32_t milliseconds,
                            Predicate ready) {
    std::condition_variable& changed = Shared().Changed;
    if (milliseconds == INFINITE) {
        changed.wait(lock, ready);
        return WaitResult::Signalled;
    }
    // A deadline on the monotonic clock, so a change of the wall clock neither shortens nor
    // stretches the wait.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    return changed.wait_until(lock, deadline, ready) ? WaitResult::Signalled : WaitResult::Timeout;
}

WaitResult Event::Wait(std::uint32_t milliseconds) {
    std::unique_lock lock(Shared().Lock);
    return WaitUntil(lock, milliseconds, [this] { return signalled; });
}

WaitResult WaitForAll(Event& first, Event& second, std::uint32_t milliseconds) {
    std::unique_lock lock(Shared().Lock);
    return Event::WaitUntil(lock, milliseconds,
                            [&] { return first.signalled && second.signalled; });
}

}  // namespace lyr
