#pragma once

#include "Clocks.h"

#include <array>
#include <cstddef>

// How long a request may stay unanswered once a later request has been
// answered, before it counts as lost. Learnt from the path's round trips in
// the way TCP learns its retransmission timeout (smoothed round trip plus
// four times its variation), and never below the slowest recent round trip
// with half as much again to spare, so that replies overtaken under jitter
// are still waited for. While few round trips are known it is a generous
// multiple of the slowest of them: enough for the jitter a few samples
// cannot show yet, short enough that the first replies after an outage do
// not wait for the timeouts of the requests lost in it.
class Patience {
  public:
    using Duration = MonotonicClock::duration;

    // Shorter than this, reordering inside hosts and routers would count as
    // loss; a real loss holds later replies for about three display frames.
    static constexpr Duration floor = std::chrono::milliseconds(50);
    static constexpr size_t learnAfter = 16;  // round trips
    static constexpr int earlyFactor = 8;     // times the slowest, before that
    static constexpr size_t recentCount = 64; // round trips remembered

    // Forgets the path: a new target.
    void reset() { *this = {}; }
    void sample(Duration roundTrip);
    // The patience in force, never above `timeout`.
    Duration current(Duration timeout) const;

  private:
    size_t samples_ = 0;
    Duration smoothed_{};
    Duration variation_{};
    std::array<Duration, recentCount> recent_{};
    Duration slowest_{}; // of recent_
};
