#include "LagHistory.h"

#include <algorithm>

void LagHistory::reset()
{
    std::fill_n(slots_.begin(), count, emptyMarker);
    ++resets_;
}

void LagHistory::push(int16_t value)
{
    pushRepeated(value, 1);
}

void LagHistory::pushRepeated(int16_t value, int times)
{
    if (times <= 0)
        return;
    const int16_t stored = value > emptyMarker ? clampedTime : value;
    const int kept = std::max(count - times, 0);
    const auto first = slots_.begin();
    std::copy(first + (count - kept), first + count, first);
    std::fill(first + kept, first + count, stored);
    pushes_ += static_cast<uint64_t>(times);
}
