#include "RunRecord.h"

#include <algorithm>
#include <cmath>

namespace {

using namespace std::chrono_literals;

constexpr int64_t secondsKept = int64_t{24} * 60 * 60;
constexpr int64_t minutesKept = int64_t{30} * 24 * 60;
constexpr uint16_t unpacked = UINT16_MAX; // a second without round trips

} // namespace

void RunRecord::Totals::add(const Totals &other)
{
    if (other.answered) {
        least = answered ? std::min(least, other.least) : other.least;
        most = answered ? std::max(most, other.most) : other.most;
    }
    sent += other.sent;
    answered += other.answered;
    lost += other.lost;
}

void RunRecord::start(Clock::time_point now, Wall::time_point wallNow)
{
    *this = RunRecord();
    start_ = now;
    wallStart_ = wallNow;
    outageWatch_.started(now, wallNow);
}

int64_t RunRecord::secondOf(Clock::time_point now) const
{
    return std::max<int64_t>(
        0, std::chrono::duration_cast<std::chrono::seconds>(now - start_).count());
}

void RunRecord::requestSent(Clock::time_point now)
{
    reach(secondOf(now));
    ++open_.sent;
}

void RunRecord::answered(Clock::time_point now, Wall::time_point wallNow, int32_t roundTripMs)
{
    reach(secondOf(now));
    open_.add({0, 1, 0, roundTripMs, roundTripMs});
    openRoundTrips_.add(roundTripMs);
    sumMs_ += roundTripMs;
    ++answered_;
    if (previous_) {
        differences_ += std::abs(double(roundTripMs) - *previous_);
        ++pairs_;
    }
    previous_ = roundTripMs;
    if (const auto back = outageWatch_.answered(now, wallNow); back && !outages_.empty()) {
        outages_.back().to = wallNow;
        outages_.back().silent = back->silent;
        outages_.back().lost = back->lost;
    }
}

void RunRecord::lost(Clock::time_point now, Clock::duration interval)
{
    reach(secondOf(now));
    ++open_.lost;
    previous_.reset();
    const bool silentBefore = outageWatch_.silent();
    if (const auto went = outageWatch_.lost(now, interval))
        outages_.push_back({went->lastHeard, std::nullopt, {}, went->lost});
    else if (silentBefore && !outages_.empty())
        ++outages_.back().lost;
}

void RunRecord::reach(int64_t second)
{
    if (last_ && second <= *last_)
        return;
    if (last_)
        close();
    last_ = second;
    age();
}

// Keeps the open second in its minute.
void RunRecord::close()
{
    const int64_t minute = *last_ / 60;
    if (recent_.empty() || recent_.back().minute != minute)
        recent_.push_back({minute, {}, {}});
    MinuteOfSeconds &block = recent_.back();
    Second &s = block.seconds[size_t(*last_ % 60)];
    s = {uint16_t(open_.sent), uint16_t(open_.answered),
         uint16_t(open_.lost), unpacked,
         open_.least,          open_.most};
    if (open_.answered) {
        s.packedAt = uint16_t(block.packed.size());
        openRoundTrips_.packInto(block.packed);
    }
    open_ = {};
    openRoundTrips_ = {};
}

// Seconds older than a day go to their minute, minutes older than 30 days
// before that go, and so do the outages that ended before the record begins.
void RunRecord::age()
{
    const int64_t minute = *last_ / 60;
    while (!recent_.empty() && recent_.front().minute <= minute - secondsKept / 60) {
        const MinuteOfSeconds &block = recent_.front();
        Minute merged{block.minute, {}, {}};
        RoundTripHistogram roundTrips;
        for (const Second &s : block.seconds) {
            merged.totals.add({s.sent, s.answered, s.lost, s.least, s.most});
            if (s.answered)
                roundTrips.addPacked(block.packed, s.packedAt);
        }
        roundTrips.packInto(merged.packed);
        older_.push_back(std::move(merged));
        recent_.pop_front();
    }
    const int64_t oldest = minute - secondsKept / 60 - minutesKept;
    while (!older_.empty() && older_.front().minute <= oldest)
        older_.pop_front();
    const Wall::time_point begins = wallStart_ + std::chrono::minutes(oldest + 1);
    while (!outages_.empty() && outages_.front().to && *outages_.front().to < begins)
        outages_.pop_front();
}

RunRecord::Wall::time_point RunRecord::ended() const
{
    return wallStart_ + std::chrono::seconds(last_ ? *last_ + 1 : 0);
}

void RunRecord::forEachRow(const std::function<void(const Row &)> &visit) const
{
    RoundTripHistogram roundTrips;
    for (const Minute &m : older_) {
        roundTrips = {};
        if (m.totals.answered)
            roundTrips.addPacked(m.packed, 0);
        visit({wallStart_ + std::chrono::minutes(m.minute), 60s, m.totals, roundTrips});
    }
    // Every second from the first kept to the open one, quiet ones too.
    const int64_t first = recent_.empty() ? (last_ ? *last_ : 0) : recent_.front().minute * 60;
    auto block = recent_.begin();
    for (int64_t second = first; last_ && second <= *last_; ++second) {
        while (block != recent_.end() && block->minute < second / 60)
            ++block;
        Totals totals;
        roundTrips = {};
        if (second == *last_) {
            totals = open_;
            roundTrips = openRoundTrips_;
        } else if (block != recent_.end() && block->minute == second / 60) {
            const Second &s = block->seconds[size_t(second % 60)];
            totals = {s.sent, s.answered, s.lost, s.least, s.most};
            if (s.answered)
                roundTrips.addPacked(block->packed, s.packedAt);
        }
        visit({wallStart_ + std::chrono::seconds(second), 1s, totals, roundTrips});
    }
}

std::optional<double> RunRecord::meanMs() const
{
    return answered_ ? std::optional(sumMs_ / double(answered_)) : std::nullopt;
}

std::optional<double> RunRecord::jitterMs() const
{
    return pairs_ ? std::optional(differences_ / double(pairs_)) : std::nullopt;
}

size_t RunRecord::bytes() const
{
    size_t total = sizeof *this;
    for (const MinuteOfSeconds &block : recent_)
        total += sizeof block + block.packed.capacity();
    for (const Minute &m : older_)
        total += sizeof m + m.packed.capacity();
    return total + outages_.size() * sizeof(Outage);
}
