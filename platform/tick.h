#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

namespace lyr {

// A 32-bit millisecond count of the monotonic clock. Callers compare two ticks as an unsigned
// 32-bit difference, so the wrap-around after about 49.7 days does no harm.
[[nodiscard]] inline std::uint32_t GetTickCount() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Linux honours short sleeps without raising a timer resolution; the lengths stay as the
// protocol timing expects them (1 ms, 10 ms, 50 ms).
inline void Sleep(std::uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace lyr
