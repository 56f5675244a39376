#pragma once

#include <chrono>
#include <cstdint>

// The engine's two clocks, as distinct types so that a time on one can never
// be subtracted from a time on the other.
//
// The wall clock is the one the kernel stamps received packets with; round
// trips are measured on it when the platform gives such a stamp. The
// monotonic clock drives the send schedule, the timeouts and every round
// trip the platform does not stamp; it is CLOCK_MONOTONIC on Linux and
// QueryPerformanceCounter on Windows, the clocks their deadline timers use.
using WallClock = std::chrono::system_clock;
using MonotonicClock = std::chrono::steady_clock;
using WallTime = WallClock::time_point;
using MonotonicTime = MonotonicClock::time_point;

// Whole nanoseconds since the clock's origin, for the system calls that take them.
template <class Clock> int64_t nsSinceOrigin(std::chrono::time_point<Clock> t)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// Now on the wall clock, in whole nanoseconds: the kernel's receive stamps
// are on it, and so is every time the tests and benches compare with them.
inline int64_t wallNs()
{
    return nsSinceOrigin(WallClock::now());
}
