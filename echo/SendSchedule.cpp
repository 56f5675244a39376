#include "SendSchedule.h"

#include <algorithm>

void SendSchedule::start(int64_t nowNs)
{
    running_ = true;
    waiting_ = false;
    nextNs_ = nowNs;
}

std::optional<int64_t> SendSchedule::nextDue() const
{
    if (!running_ || waiting_)
        return std::nullopt;
    return nextNs_;
}

bool SendSchedule::due(int64_t nowNs) const
{
    const auto next = nextDue();
    return next && *next <= nowNs;
}

void SendSchedule::sent(int64_t nowNs, int64_t intervalNs, bool synchronous)
{
    lastSentNs_ = nowNs;
    nextNs_ += intervalNs;
    if (nextNs_ <= nowNs)
        nextNs_ = nowNs + intervalNs; // stalled: re-anchor instead of bursting
    waiting_ = synchronous;
}

void SendSchedule::settled(int64_t nowNs)
{
    if (!waiting_)
        return;
    waiting_ = false;
    nextNs_ = std::max(nextNs_, nowNs);
}

void SendSchedule::intervalChanged(int64_t intervalNs)
{
    if (running_)
        nextNs_ = lastSentNs_ + intervalNs;
}
