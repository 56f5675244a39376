#include "FramePacer.h"

#include <algorithm>

void FramePacer::changed(Clock::time_point now, bool mayWait)
{
    if (!firstChange_)
        firstChange_ = now;
    if (!mayWait && !firstUrgent_)
        firstUrgent_ = now;
}

std::optional<FramePacer::Clock::time_point> FramePacer::due() const
{
    if (!firstChange_)
        return std::nullopt;
    const Clock::time_point latest = *firstChange_ + period_;
    if (!firstUrgent_)
        return latest;
    const Clock::time_point soonest = lastFrame_ ? *lastFrame_ + period_ : *firstUrgent_;
    return std::min(latest, std::max(soonest, *firstUrgent_));
}

void FramePacer::presented(Clock::time_point now)
{
    lastFrame_ = now;
    firstChange_.reset();
    firstUrgent_.reset();
}
