#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace lyr {

// What a wait ended with. Failed stands for a wait on something that does not exist (a thread
// that was never started); an event wait never fails.
enum class WaitResult { Signalled, Timeout, Failed };

// A wait time that never runs out.
inline constexpr std::uint32_t INFINITE = 0xFFFFFFFFu;

// A manual-reset event: once set it stays signalled, releasing every waiter, until Reset.
//
// All events share one lock and one condition variable, as kernel events share one dispatcher
// lock: a wait for all of two events then sees both states at one instant, which two separate
// locks could not give without polling. The program has a handful of events and two threads, so
// the shared wake-ups cost nothing.
class Event {
  public:
    explicit Event(bool initiallySignalled = false);
    ~Event() = default;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    [[nodiscard]] bool IsSet() const;

    // Waits up to `milliseconds` (INFINITE: for ever) until the event is signalled.
    WaitResult Wait(std::uint32_t milliseconds);

    // Waits up to `milliseconds` until `first` and `second` are signalled at the same time
    // (neither is changed by the wait).
    friend WaitResult WaitForAll(Event& first, Event& second, std::uint32_t milliseconds);

  private:
    template <typename Predicate>
    static WaitResult WaitUntil(std::unique_lock<std::mutex>& lock, std::uint32_t milliseconds,
                                Predicate ready);

    // Protected by the lock shared by every event (event.cpp).
    bool signalled;
};

WaitResult WaitForAll(Event& first, Event& second, std::uint32_t milliseconds);

}  // namespace lyr
