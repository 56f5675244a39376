#pragma once

#include <cstdint>
#include <deque>
#include <optional>

// Hands replies over in the order their requests went out. The window counts
// every sequence number skipped since the last reply as lost, so a reply that
// overtook an earlier request waits until that request is answered or given
// up; on a link that keeps order nothing ever waits.
class ReplyOrder {
  public:
    struct Reply {
        uint16_t seq = 0;
        int hops = -1;
        int32_t roundTripMs = 0;
    };

    // A request went out: its place in the order.
    uint64_t sent();
    // Each place is resolved once, by an answer or as lost; a place that is
    // no longer waiting is left alone.
    void answered(uint64_t place, const Reply &reply);
    void lost(uint64_t place);

    // The oldest answered reply that no earlier request waits before; lost
    // requests on the way are passed over, as the gap they leave tells them.
    std::optional<Reply> next();

    // Places still held back, waiting or behind one that waits.
    size_t held() const { return entries_.size(); }

  private:
    enum class State : uint8_t { Waiting, Answered, Lost };
    struct Entry {
        State state = State::Waiting;
        Reply reply;
    };
    Entry *find(uint64_t place);

    std::deque<Entry> entries_;
    uint64_t first_ = 0; // the place of entries_.front()
};
