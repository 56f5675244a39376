#pragma once

#include "LagConstants.h"

#include <array>
#include <cstdint>
#include <span>

// The last round-trip samples on the graph's scale, oldest in slot 1, newest
// in slot `count`. Slots hold milliseconds below the loss marker, or one of
// the two markers.
class LagHistory {
  public:
    static constexpr int capacity = 500;
    static constexpr int count = lagScale.lagCount;
    static constexpr int16_t lossMarker = lagScale.lossMarker();
    static constexpr int16_t emptyMarker = lagScale.emptyMarker();
    static constexpr int16_t clampedTime = lossMarker - 1;
    static_assert(count <= capacity);

    // 1-based, as the slots are numbered.
    int16_t slot(int i) const { return slots_.at(i - 1); }
    // Slots 1 to `count`, for a pass over all of them.
    std::span<const int16_t, count> samples() const { return std::span(slots_).first<count>(); }

    // Marks every slot in use empty.
    void reset();

    // Drops the oldest sample and stores `value` in slot `count`; times
    // above the empty marker are stored as the longest time shown.
    void push(int16_t value);

    // The same history as `times` pushes of `value`, at the cost of one shift.
    void pushRepeated(int16_t value, int times);

    // How the history came to be, for a drawing that follows it: the
    // samples pushed and the resets made since it was built.
    uint64_t pushes() const { return pushes_; }
    uint64_t resets() const { return resets_; }

  private:
    std::array<int16_t, capacity> slots_{};
    uint64_t pushes_ = 0;
    uint64_t resets_ = 0;
};
