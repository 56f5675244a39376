#include "Outstanding.h"

#include "EchoData.h"

#include <algorithm>

namespace {

bool echoes(const PendingRequest &request, std::span<const uint8_t> echoed)
{
    if (echoed.size() != request.payloadSize)
        return false;
    const std::vector<uint8_t> expected = icmp::payloadFor(request.token, request.payloadSize);
    return std::equal(expected.begin(), expected.end(), echoed.begin());
}

} // namespace

std::optional<PendingRequest> Outstanding::add(const PendingRequest &request)
{
    std::optional<PendingRequest> displaced = take(request.seq);
    if (displaced)
        giveUp(*displaced);
    pending_.emplace(request.seq, request);
    return displaced;
}

std::optional<PendingRequest> Outstanding::takeAnswered(uint16_t seq,
                                                        std::span<const uint8_t> echoed)
{
    const auto it = pending_.find(seq);
    if (it == pending_.end() || !echoes(it->second, echoed))
        return std::nullopt;
    return take(seq);
}

std::optional<PendingRequest> Outstanding::takeLate(uint16_t seq, std::span<const uint8_t> echoed)
{
    for (auto it = givenUp_.rbegin(); it != givenUp_.rend(); ++it) {
        if (it->seq == seq && echoes(*it, echoed)) {
            PendingRequest request = *it;
            givenUp_.erase(std::next(it).base());
            return request;
        }
    }
    return std::nullopt;
}

std::optional<PendingRequest> Outstanding::take(uint16_t seq)
{
    const auto it = pending_.find(seq);
    if (it == pending_.end())
        return std::nullopt;
    PendingRequest request = it->second;
    pending_.erase(it);
    return request;
}

void Outstanding::overtaken(uint64_t place)
{
    newestAnswered_ = std::max(newestAnswered_.value_or(place), place);
}

bool Outstanding::isOvertaken(const PendingRequest &request) const
{
    return newestAnswered_ && request.place < *newestAnswered_;
}

MonotonicTime Outstanding::dueAt(const PendingRequest &request, Duration patience) const
{
    return isOvertaken(request) ? std::min(request.deadline, request.sentAt + patience)
                                : request.deadline;
}

std::vector<PendingRequest> Outstanding::takeOverdue(MonotonicTime now, Duration patience)
{
    std::vector<PendingRequest> overdue;
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (dueAt(it->second, patience) <= now) {
            overdue.push_back(it->second);
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
    std::sort(overdue.begin(), overdue.end(),
              [](const auto &a, const auto &b) { return a.place < b.place; });
    for (const PendingRequest &request : overdue)
        giveUp(request);
    return overdue;
}

std::optional<MonotonicTime> Outstanding::nextDue(Duration patience) const
{
    std::optional<MonotonicTime> next;
    for (const auto &[seq, request] : pending_)
        next = std::min(next.value_or(MonotonicTime::max()), dueAt(request, patience));
    return next;
}

void Outstanding::giveUp(const PendingRequest &request)
{
    givenUp_.push_back(request);
    if (givenUp_.size() > givenUpKept)
        givenUp_.pop_front();
}
