#pragma once

#include <cstdint>
#include <optional>

// When the next request is due, on absolute deadlines so that timer lag does
// not add up: n requests at interval t take n * t. After a stall longer than
// an interval it sends once and re-anchors, rather than bursting to catch up.
// In synchronous mode a request also waits for the previous one's answer.
class SendSchedule {
  public:
    void start(int64_t nowNs);
    void stop() { running_ = false; }

    // When the next request is due, or nothing while waiting for an answer
    // (synchronous) or stopped.
    std::optional<int64_t> nextDue() const;
    bool due(int64_t nowNs) const;

    // A request went out at `nowNs`; the next is due one interval later.
    void sent(int64_t nowNs, int64_t intervalNs, bool synchronous);
    // The previous request was answered or timed out.
    void settled(int64_t nowNs);
    // A new interval applies from the next request on: it follows the last
    // one by the new interval.
    void intervalChanged(int64_t intervalNs);

  private:
    bool running_ = false;
    bool waiting_ = false;
    int64_t lastSentNs_ = 0;
    int64_t nextNs_ = 0;
};
