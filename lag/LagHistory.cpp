#include "LagHistory.h"

#include <algorithm>

void LagHistory::reset(int count)
{
    std::fill_n(slots_.begin(), count, emptyMarker);
}

void LagHistory::push(int16_t value, int count)
{
    pushRepeated(value, 1, count);
}

void LagHistory::pushRepeated(int16_t value, int times, int count)
{
    if (times <= 0 || count <= 0)
        return;
    const int16_t stored = value > emptyMarker ? clampedTime : value;
    const int kept = std::max(count - times, 0);
    const auto first = slots_.begin();
    std::copy(first + (count - kept), first + count, first);
    std::fill(first + kept, first + count, stored);
}
