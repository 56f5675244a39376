#pragma once

#include "LagConstants.h"

#include <array>
#include <cstdint>

// The last round-trip samples, oldest in slot 1, newest in slot `count`.
// Slots hold milliseconds below 1000, or one of the two markers.
class LagHistory {
  public:
    static constexpr int capacity = 500;
    static constexpr int16_t lossMarker = lagScale.lossMarker();
    static constexpr int16_t emptyMarker = lagScale.emptyMarker();
    static constexpr int16_t clampedTime = lossMarker - 1;
    static_assert(lagScale.lagCount <= capacity);

    // 1-based, as the slots are numbered.
    int16_t slot(int i) const { return slots_.at(i - 1); }

    // Marks slots 1..count empty.
    void reset(int count);

    // Drops the oldest of slots 1..count and stores `value` in slot `count`;
    // times above the empty marker are stored as 999.
    void push(int16_t value, int count);

    // The same history as `times` pushes of `value`, at the cost of one shift.
    void pushRepeated(int16_t value, int times, int count);

  private:
    std::array<int16_t, capacity> slots_{};
};
