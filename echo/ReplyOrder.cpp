#include "ReplyOrder.h"

uint64_t ReplyOrder::sent()
{
    entries_.emplace_back();
    return first_ + entries_.size() - 1;
}

ReplyOrder::Entry *ReplyOrder::find(uint64_t place)
{
    if (place < first_ || place - first_ >= entries_.size())
        return nullptr;
    Entry &entry = entries_[place - first_];
    return entry.state == State::Waiting ? &entry : nullptr;
}

void ReplyOrder::answered(uint64_t place, const Reply &reply)
{
    if (Entry *entry = find(place)) {
        entry->state = State::Answered;
        entry->reply = reply;
    }
}

void ReplyOrder::lost(uint64_t place)
{
    if (Entry *entry = find(place))
        entry->state = State::Lost;
}

std::optional<ReplyOrder::Reply> ReplyOrder::next()
{
    while (!entries_.empty() && entries_.front().state != State::Waiting) {
        const Entry entry = entries_.front();
        entries_.pop_front();
        ++first_;
        if (entry.state == State::Answered)
            return entry.reply;
    }
    return std::nullopt;
}
