#pragma once

#include "IcmpPacket.h"

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

// A request that is waiting for its reply.
struct PendingRequest {
    uint16_t seq = 0;
    uint64_t place = 0; // in the order replies are handed over
    uint64_t token = 0; // the request's echo data derives from it
    size_t payloadSize = 0;
    int64_t sentWallNs = 0; // on the clock the kernel stamps replies with
    int64_t deadlineNs = 0; // monotonic
};

// The table of requests still waiting, keyed by sequence number.
class Outstanding {
  public:
    // Adds a request; a request still waiting under the same number is
    // returned, as it can no longer be told apart from the new one.
    std::optional<PendingRequest> add(const PendingRequest &request);

    // Takes the request that `reply` answers, if its echo data is the one
    // sent. A duplicate finds nothing, as the first reply took the request.
    std::optional<PendingRequest> takeAnswered(const icmp::EchoReply &reply);

    // Takes the request an ICMP error quotes.
    std::optional<PendingRequest> take(uint16_t seq);

    // Takes every request whose deadline has passed, oldest first.
    std::vector<PendingRequest> takeExpired(int64_t nowNs);

    std::optional<int64_t> nextDeadline() const;
    bool empty() const { return pending_.empty(); }
    size_t size() const { return pending_.size(); }

  private:
    std::unordered_map<uint16_t, PendingRequest> pending_;
};
