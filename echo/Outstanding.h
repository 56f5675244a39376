#pragma once

#include "Clocks.h"

#include <cstdint>
#include <deque>
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

// The table of requests still waiting, keyed by sequence number, and of those
// recently given up, so that a reply coming after its verdict is recognised.
class Outstanding {
  public:
    using Duration = MonotonicClock::duration;

    // Adds a request; a request still waiting under the same number is
    // given up and returned, as it can no longer be told apart from the new one.
    std::optional<PendingRequest> add(const PendingRequest &request);

    // Takes the request that a reply to `seq` answers, if the echoed data is
    // the one sent. A duplicate finds nothing, as the first reply took the
    // request.
    std::optional<PendingRequest> takeAnswered(uint16_t seq, std::span<const uint8_t> echoed);
    // The same for a request already given up: a late reply, taken once.
    std::optional<PendingRequest> takeLate(uint16_t seq, std::span<const uint8_t> echoed);

    // Takes the request an ICMP error quotes.
    std::optional<PendingRequest> take(uint16_t seq);

    // A reply to the request at `place` came: every earlier request still
    // waiting has been overtaken.
    void overtaken(uint64_t place);

    // Gives up, oldest first, every request past its deadline and every
    // overtaken one that has waited longer than `patience`.
    std::vector<PendingRequest> takeOverdue(MonotonicTime now, Duration patience);
    // When takeOverdue will next have something to give up.
    std::optional<MonotonicTime> nextDue(Duration patience) const;

    bool empty() const { return pending_.empty(); }
    size_t size() const { return pending_.size(); }

    // How many given-up requests are kept for their late replies.
    static constexpr size_t givenUpKept = 4096;

  private:
    bool isOvertaken(const PendingRequest &request) const;
    MonotonicTime dueAt(const PendingRequest &request, Duration patience) const;
    void giveUp(const PendingRequest &request);

    std::unordered_map<uint16_t, PendingRequest> pending_;
    std::deque<PendingRequest> givenUp_;
    std::optional<uint64_t> newestAnswered_; // place
};
