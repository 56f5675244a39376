#pragma once

#include "OutageWatch.h"
#include "RoundTripHistogram.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

// The record of a run, from its Start: per second for the last 24 hours and
// per minute for up to 30 days before that, the requests sent, answered and
// lost, and the round trips' least, greatest and histogram; and every
// outage, by the same rule as the outage notices. A second of 100 requests
// takes at most about 80 bytes, so 24 hours at that rate stay under 8 MB.
class RunRecord {
  public:
    using Clock = std::chrono::steady_clock;
    using Wall = std::chrono::system_clock;

    struct Totals {
        uint32_t sent = 0;
        uint32_t answered = 0;
        uint32_t lost = 0;
        int32_t least = 0; // round trips, ms, where any was answered
        int32_t most = 0;
        void add(const Totals &other);
    };
    // One row of the record: a second or a minute from `at`.
    struct Row {
        Wall::time_point at;
        std::chrono::seconds length;
        Totals totals;
        const RoundTripHistogram &roundTrips;
    };
    struct Outage {
        Wall::time_point from;              // the last reply before, or the Start
        std::optional<Wall::time_point> to; // the reply that ended it
        Clock::duration silent{};           // from `from` to `to`, where it ended
        int lost = 0;                       // requests lost in it
    };

    void start(Clock::time_point now, Wall::time_point wallNow);
    void requestSent(Clock::time_point now);
    void answered(Clock::time_point now, Wall::time_point wallNow, int32_t roundTripMs);
    void lost(Clock::time_point now, Clock::duration interval);

    bool empty() const { return !last_; }
    Wall::time_point began() const { return wallStart_; }
    // The end of the last second anything happened in.
    Wall::time_point ended() const;
    // Every row, oldest first: the minutes, then the seconds.
    void forEachRow(const std::function<void(const Row &)> &visit) const;
    const std::deque<Outage> &outages() const { return outages_; }
    // Over the whole run: the mean round trip, and the jitter, the mean
    // difference between round trips in a row (a loss between two is not
    // bridged); none without replies, or pairs of them.
    std::optional<double> meanMs() const;
    std::optional<double> jitterMs() const;

    // What the record takes in memory.
    size_t bytes() const;

  private:
    struct Second {
        uint16_t sent = 0;
        uint16_t answered = 0;
        uint16_t lost = 0;
        uint16_t packedAt = 0; // its round trips in the minute's packed bytes
        int32_t least = 0;
        int32_t most = 0;
    };
    struct MinuteOfSeconds {
        int64_t minute = 0;
        std::array<Second, 60> seconds{};
        std::vector<uint8_t> packed;
    };
    struct Minute {
        int64_t minute = 0;
        Totals totals;
        std::vector<uint8_t> packed;
    };

    int64_t secondOf(Clock::time_point now) const;
    // Moves to second `second`, closing the open one when it is earlier.
    void reach(int64_t second);
    void close();
    void age();

    Clock::time_point start_{};
    Wall::time_point wallStart_{};
    std::optional<int64_t> last_; // the open second
    Totals open_;
    RoundTripHistogram openRoundTrips_;
    std::deque<MinuteOfSeconds> recent_;
    std::deque<Minute> older_;
    std::deque<Outage> outages_;
    OutageWatch outageWatch_;
    double sumMs_ = 0;
    uint64_t answered_ = 0;
    std::optional<int32_t> previous_; // the last round trip, when no loss came after it
    double differences_ = 0;
    uint64_t pairs_ = 0;
};
