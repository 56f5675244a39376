#pragma once

#include <cstdint>
#include <deque>
#include <optional>

// Hands every request over once, in the order the requests went out, as
// answered or as lost. The window counts every sequence number skipped since
// the last one it was handed as lost, so a reply that overtook an earlier
// request waits until that request is answered or given up; on a link that
// keeps order nothing ever waits.
class ReplyOrder {
  public:
    struct Outcome {
        uint16_t seq = 0;
        bool answered = false;
        int hops = -1;           // answered: TTL or hop limit, where known
        int32_t roundTripMs = 0; // answered
    };

    // A request went out: its place in the order.
    uint64_t sent(uint16_t seq);
    // Each place is resolved once, by an answer or as lost; a place that is
    // no longer waiting is left alone.
    void answered(uint64_t place, int hops, int32_t roundTripMs);
    void lost(uint64_t place);

    // The oldest resolved request that no earlier request waits before.
    std::optional<Outcome> next();

    // Places still held back, waiting or behind one that waits.
    size_t held() const { return entries_.size(); }

  private:
    struct Entry {
        bool resolved = false;
        Outcome outcome;
    };
    Entry *find(uint64_t place);

    std::deque<Entry> entries_;
    uint64_t first_ = 0; // the place of entries_.front()
};
