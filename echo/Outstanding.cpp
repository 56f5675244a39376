#include "Outstanding.h"

#include "EchoData.h"

#include <algorithm>

std::optional<PendingRequest> Outstanding::add(const PendingRequest &request)
{
    std::optional<PendingRequest> displaced = take(request.seq);
    pending_.emplace(request.seq, request);
    return displaced;
}

std::optional<PendingRequest> Outstanding::takeAnswered(uint16_t seq,
                                                        std::span<const uint8_t> echoed)
{
    const auto it = pending_.find(seq);
    if (it == pending_.end())
        return std::nullopt;
    const PendingRequest &request = it->second;
    if (echoed.size() != request.payloadSize)
        return std::nullopt;
    const std::vector<uint8_t> expected = icmp::payloadFor(request.token, request.payloadSize);
    if (!std::equal(expected.begin(), expected.end(), echoed.begin()))
        return std::nullopt;
    return take(seq);
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

std::vector<PendingRequest> Outstanding::takeExpired(MonotonicTime now)
{
    std::vector<PendingRequest> expired;
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->second.deadline <= now) {
            expired.push_back(it->second);
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
    std::sort(expired.begin(), expired.end(),
              [](const auto &a, const auto &b) { return a.deadline < b.deadline; });
    return expired;
}

std::optional<MonotonicTime> Outstanding::nextDeadline() const
{
    std::optional<MonotonicTime> next;
    for (const auto &[seq, request] : pending_)
        if (!next || request.deadline < *next)
            next = request.deadline;
    return next;
}
