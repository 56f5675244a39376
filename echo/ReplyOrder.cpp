#include "ReplyOrder.h"

uint64_t ReplyOrder::sent(uint16_t seq)
{
    entries_.push_back({.resolved = false, .outcome = {.seq = seq}});
    return first_ + entries_.size() - 1;
}

ReplyOrder::Entry *ReplyOrder::find(uint64_t place)
{
    if (place < first_ || place - first_ >= entries_.size())
        return nullptr;
    Entry &entry = entries_[place - first_];
    return entry.resolved ? nullptr : &entry;
}

void ReplyOrder::answered(uint64_t place, int hops, int32_t roundTripMs)
{
    if (Entry *entry = find(place)) {
        entry->resolved = true;
        entry->outcome.answered = true;
        entry->outcome.hops = hops;
        entry->outcome.roundTripMs = roundTripMs;
    }
}

void ReplyOrder::lost(uint64_t place)
{
    if (Entry *entry = find(place))
        entry->resolved = true;
}

std::optional<ReplyOrder::Outcome> ReplyOrder::next()
{
    if (entries_.empty() || !entries_.front().resolved)
        return std::nullopt;
    const Outcome outcome = entries_.front().outcome;
    entries_.pop_front();
    ++first_;
    return outcome;
}
