#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

// Decides when a host that still answers has become slow, and when it is
// fast again, from the round trips of its replies.
//
// Its usual round trip is the lowest median of the replies of a 10 s span
// (one ending at each reply, with at least 10 replies in it) over the last
// 10 minutes of the run. It is slow when the median of the last 10 s (at
// least 10 replies) is above both 3 times the usual and the usual plus
// 50 ms; fast again when that median is below both twice the usual and the
// usual plus 25 ms, the gap keeping it from flapping. Nothing is judged
// before the run has had replies for 10 s.
class SlowWatch {
  public:
    using Clock = std::chrono::steady_clock;

    struct Verdict {
        bool slow = false; // became slow, or else fast again
        double medianMs = 0;
        double usualMs = 0;
        Clock::duration slowFor{}; // when fast again
    };

    // A new run: nothing heard yet.
    void started();
    // A reply: when the host has now become slow, or fast again.
    std::optional<Verdict> answered(Clock::time_point now, int32_t roundTripMs);

  private:
    double median() const;

    std::optional<Clock::time_point> firstReply_;
    std::deque<std::pair<Clock::time_point, int32_t>> recent_; // the last 10 s, in order
    std::vector<int32_t> sorted_;                              // the same, sorted
    // Medians of past spans, each lower than those after it: the front is the
    // lowest of the last 10 minutes.
    std::deque<std::pair<Clock::time_point, double>> lowest_;
    bool slow_ = false;
    Clock::time_point slowSince_{};
};
