#include "LagBars.h"

#include "NumberText.h"

#include <algorithm>

BarSpan barSpan(int i, int16_t v, int surfaceHeight)
{
    constexpr LagConstants c = lagScale;
    BarSpan bar;
    bar.colour = v == c.lossMarker() ? BarColour::Loss : BarColour::Time;
    if (v == c.emptyMarker())
        bar.colour = BarColour::Background;
    bar.x = static_cast<int16_t>(c.graphLeft + i);
    const double yTop =
        c.graphTop + (c.graphHeight - v / (static_cast<double>(c.lagLimit) / c.graphHeight));
    const int edge = roundToInt32(yTop);
    const int baseline = c.graphHeight + c.graphTop;
    // Every bar standing on the baseline includes its row, so that a reply of
    // a few milliseconds still leaves a mark.
    const int bottom = edge <= baseline ? baseline + 1 : edge;
    bar.top = std::clamp(std::min(edge, baseline), 0, surfaceHeight);
    bar.bottom = std::clamp(bottom, 0, surfaceHeight);
    return bar;
}

BarTable::BarTable(int surfaceHeight) : built_(true), height_(surfaceHeight)
{
    for (int16_t v = 0; v <= LagHistory::emptyMarker; ++v)
        spans_[static_cast<std::size_t>(v)] = barSpan(0, v, surfaceHeight);
}
