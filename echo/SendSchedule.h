#pragma once

#include "Clocks.h"

#include <optional>

// When the next request is due, on absolute deadlines so that timer lag does
// not add up: n requests at interval t take n * t. After a stall longer than
// an interval it sends once and re-anchors, rather than bursting to catch up.
// In synchronous mode a request also waits for the previous one's answer.
class SendSchedule {
  public:
    using Interval = std::chrono::nanoseconds;

    void start(MonotonicTime now);
    void stop() { running_ = false; }

    // When the next request is due, or nothing while waiting for an answer
    // (synchronous) or stopped.
    std::optional<MonotonicTime> nextDue() const;
    bool due(MonotonicTime now) const;

    // A request went out at `now`; the next is due one interval later.
    void sent(MonotonicTime now, Interval interval, bool synchronous);
    // The previous request was answered or timed out.
    void settled(MonotonicTime now);
    // A new interval applies from the next request on: it follows the last
    // one by the new interval.
    void intervalChanged(Interval interval);

  private:
    bool running_ = false;
    bool waiting_ = false;
    MonotonicTime lastSent_;
    MonotonicTime next_;
};
