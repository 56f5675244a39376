#include "Patience.h"

#include <algorithm>

void Patience::sample(Duration roundTrip)
{
    roundTrip = std::max(roundTrip, Duration::zero());
    // RFC 6298's gains: 1/8 for the round trip, 1/4 for its variation.
    if (samples_ == 0) {
        smoothed_ = roundTrip;
        variation_ = roundTrip / 2;
    } else {
        const Duration deviation =
            smoothed_ > roundTrip ? smoothed_ - roundTrip : roundTrip - smoothed_;
        variation_ = (3 * variation_ + deviation) / 4;
        smoothed_ = (7 * smoothed_ + roundTrip) / 8;
    }
    recent_[samples_ % recentCount] = roundTrip;
    ++samples_;
    // Worked out once per reply, not on every look at the patience.
    slowest_ = *std::max_element(recent_.begin(), recent_.end());
}

Patience::Duration Patience::current(Duration timeout) const
{
    if (samples_ == 0)
        return timeout;
    const Duration learnt = samples_ < learnAfter
                                ? earlyFactor * slowest_
                                : std::max(smoothed_ + 4 * variation_, slowest_ + slowest_ / 2);
    return std::min(std::max(learnt, floor), timeout);
}
