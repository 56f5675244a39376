#pragma once

#include "Clocks.h"

#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

// A request that is waiting for its reply.
struct PendingRequest {
    uint16_t seq = 0;
    uint64_t place = 0; // in the order replies are handed over
    uint64_t token = 0; // the request's echo data derives from it
    size_t payloadSize = 0;
    WallTime sentWall{};      // for replies the kernel stamps on arrival
    MonotonicTime sentAt{};   // for the others
    MonotonicTime deadline{}; // counts as lost after it
};

// The table of requests still waiting, keyed by sequence number.
class Outstanding {
  public:
    // Adds a request; a request still waiting under the same number is
    // returned, as it can no longer be told apart from the new one.
    std::optional<PendingRequest> add(const PendingRequest &request);

    // Takes the request that a reply to `seq` answers, if the echoed data is
    // the one sent. A duplicate finds nothing, as the first reply took the
    // request.
    std::optional<PendingRequest> takeAnswered(uint16_t seq, std::span<const uint8_t> echoed);

    // Takes the request an ICMP error quotes.
    std::optional<PendingRequest> take(uint16_t seq);

    // Takes every request whose deadline has passed, oldest first.
    std::vector<PendingRequest> takeExpired(MonotonicTime now);

    std::optional<MonotonicTime> nextDeadline() const;
    bool empty() const { return pending_.empty(); }
    size_t size() const { return pending_.size(); }

  private:
    std::unordered_map<uint16_t, PendingRequest> pending_;
};
