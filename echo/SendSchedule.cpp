#include "SendSchedule.h"

#include <algorithm>

void SendSchedule::start(MonotonicTime now)
{
    running_ = true;
    waiting_ = false;
    next_ = now;
}

std::optional<MonotonicTime> SendSchedule::nextDue() const
{
    if (!running_ || waiting_)
        return std::nullopt;
    return next_;
}

bool SendSchedule::due(MonotonicTime now) const
{
    const auto next = nextDue();
    return next && *next <= now;
}

void SendSchedule::sent(MonotonicTime now, Interval interval, bool synchronous)
{
    lastSent_ = now;
    next_ += interval;
    if (next_ <= now)
        next_ = now + interval; // stalled: re-anchor instead of bursting
    waiting_ = synchronous;
}

void SendSchedule::settled(MonotonicTime now)
{
    if (!waiting_)
        return;
    waiting_ = false;
    next_ = std::max(next_, now);
}

void SendSchedule::intervalChanged(Interval interval)
{
    if (running_)
        next_ = lastSent_ + interval;
}
