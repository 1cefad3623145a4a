#include "platform/event.h"
#include "platform/thread_object.h"

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

namespace lyr {
namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(Event, ManualResetEventStaysSignalledUntilReset) {
    Event event(false);
    EXPECT_EQ(event.Wait(0), WaitResult::Timeout);
    event.Set();
    EXPECT_EQ(event.Wait(0), WaitResult::Signalled);
    EXPECT_EQ(event.Wait(0), WaitResult::Signalled);  // a wait does not consume it
    event.Reset();
    EXPECT_FALSE(event.IsSet());
    EXPECT_TRUE(Event(true).IsSet());
}

TEST(Event, WaitTimesOutAfterItsTime) {
    Event event;
    const auto start = Clock::now();
    EXPECT_EQ(event.Wait(150), WaitResult::Timeout);
    EXPECT_GE(MsSince(start), 150);
}

TEST(Event, SetFromAnotherThreadReleasesEveryWaiter) {
    Event event;
    std::atomic<int> released{0};
    std::thread a([&] { released += event.Wait(INFINITE) == WaitResult::Signalled; });
    std::thread b([&] { released += event.Wait(10000) == WaitResult::Signalled; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    event.Set();
    a.join();
    b.join();
    EXPECT_EQ(released, 2);
}

TEST(Event, WaitForAllNeedsBothEventsSignalledAtOnce) {
    Event first;
    Event second;
    first.Set();
    EXPECT_EQ(WaitForAll(first, second, 50), WaitResult::Timeout);
    first.Reset();
    second.Set();
    EXPECT_EQ(WaitForAll(first, second, 50), WaitResult::Timeout);

    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        first.Set();
    });
    EXPECT_EQ(WaitForAll(first, second, 10000), WaitResult::Signalled);
    setter.join();
    EXPECT_TRUE(first.IsSet());  // the wait changes neither event
    EXPECT_TRUE(second.IsSet());
}

struct Counter {
    std::atomic<int> runs{0};
    Event release;
    static unsigned Proc(void* param) {
        auto* self = static_cast<Counter*>(param);
        ++self->runs;
        (void)self->release.Wait(INFINITE);
        return 7;
    }
};

TEST(CWinThread, CreatedThreadRunsOnlyAfterResume) {
    Counter counter;
    CWinThread thread(&Counter::Proc, &counter);
    ASSERT_TRUE(thread.CreateThread());
    EXPECT_FALSE(thread.CreateThread());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(counter.runs, 0);
    EXPECT_TRUE(thread.ResumeThread());
    EXPECT_FALSE(thread.ResumeThread());

    const auto start = Clock::now();
    EXPECT_EQ(thread.WaitForEnd(100), WaitResult::Timeout);
    EXPECT_GE(MsSince(start), 100);
    counter.release.Set();
    EXPECT_EQ(thread.WaitForEnd(10000), WaitResult::Signalled);
    EXPECT_EQ(counter.runs, 1);
    EXPECT_EQ(thread.ExitCode(), 7u);
    EXPECT_EQ(thread.WaitForEnd(0), WaitResult::Signalled);  // ended stays ended
}

TEST(CWinThread, WaitForThreadNeverStartedFails) {
    Counter counter;
    CWinThread never(&Counter::Proc, &counter);
    EXPECT_EQ(never.WaitForEnd(100), WaitResult::Failed);
    ASSERT_TRUE(never.CreateThread());
    EXPECT_EQ(never.WaitForEnd(100), WaitResult::Failed);
    EXPECT_EQ(counter.runs, 0);
}

TEST(CWinThread, DestructorWaitsForARunningThread) {
    Counter counter;
    std::thread releaser;
    {
        CWinThread thread(&Counter::Proc, &counter);
        ASSERT_TRUE(thread.CreateThread());
        ASSERT_TRUE(thread.ResumeThread());
        releaser = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            counter.release.Set();
        });
    }  // joins here; a joinable std::thread left behind would terminate the process
    EXPECT_EQ(counter.runs, 1);
    releaser.join();
}

}  // namespace
}  // namespace lyr
