#include "Outstanding.h"

#include <algorithm>

std::optional<PendingRequest> Outstanding::add(const PendingRequest &request)
{
    std::optional<PendingRequest> displaced = take(request.seq);
    pending_.emplace(request.seq, request);
    return displaced;
}

std::optional<PendingRequest> Outstanding::takeAnswered(const icmp::EchoReply &reply)
{
    const auto it = pending_.find(reply.seq);
    if (it == pending_.end())
        return std::nullopt;
    const PendingRequest &request = it->second;
    if (reply.payload.size() != request.payloadSize)
        return std::nullopt;
    const std::vector<uint8_t> expected = icmp::payloadFor(request.token, request.payloadSize);
    if (!std::equal(expected.begin(), expected.end(), reply.payload.begin()))
        return std::nullopt;
    return take(reply.seq);
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

std::vector<PendingRequest> Outstanding::takeExpired(int64_t nowNs)
{
    std::vector<PendingRequest> expired;
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->second.deadlineNs <= nowNs) {
            expired.push_back(it->second);
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
    std::sort(expired.begin(), expired.end(),
              [](const auto &a, const auto &b) { return a.deadlineNs < b.deadlineNs; });
    return expired;
}

std::optional<int64_t> Outstanding::nextDeadline() const
{
    std::optional<int64_t> next;
    for (const auto &[seq, request] : pending_)
        if (!next || request.deadlineNs < *next)
            next = request.deadlineNs;
    return next;
}
