#pragma once

#include "LagHistory.h"

#include <array>
#include <cstddef>
#include <cstdint>

enum class BarColour { Time, Loss, Background };

// The colour of a time's bar and of a loss's, as 0xAARRGGBB (QRgb); an empty
// slot's is the window's own background.
inline constexpr uint32_t timeRgb = 0xFF00C000;
inline constexpr uint32_t lossRgb = 0xFFC00000;
constexpr uint32_t barRgb(BarColour colour)
{
    return colour == BarColour::Loss ? lossRgb : timeRgb;
}

// The pixels of one bar: column x, rows top..bottom-1.
struct BarSpan {
    int x = 0;
    int top = 0;
    int bottom = 0;
    BarColour colour = BarColour::Time;
};

// Bar of slot i holding v on the graph's scale. The top edge lies at
// graphTop + graphHeight - v / (lagLimit / graphHeight); a fractional edge is
// rounded to the nearest row, halves to even, and the bar fills the rows from
// there down to and including the baseline, so a bar is that many rows tall
// plus the baseline row, and 0 ms is a one-row mark. A negative sample hangs
// from the baseline row down to its edge, cut off at the surface's bottom.
BarSpan barSpan(int i, int16_t v, int surfaceHeight);

// barSpan of every sample from 0 to the empty marker, worked out once for a
// surface height, so that drawing the graph on every reply does no floating
// point.
class BarTable {
  public:
    BarTable() = default;
    explicit BarTable(int surfaceHeight);

    bool fits(int surfaceHeight) const { return built_ && surfaceHeight == height_; }
    BarSpan span(int i, int16_t v) const
    {
        if (v < 0 || v > LagHistory::emptyMarker)
            return barSpan(i, v, height_);
        BarSpan bar = spans_[static_cast<std::size_t>(v)];
        bar.x = lagScale.graphLeft + i;
        return bar;
    }

  private:
    bool built_ = false;
    int height_ = 0;
    std::array<BarSpan, LagHistory::emptyMarker + 1> spans_{};
};
