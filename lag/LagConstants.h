#pragma once

#include <cstdint>

// Scale and placement of the lag history and its graph. `lagScale` below is
// the one description that the history, the bars, the graph band and the
// window all read, so the scale is a one-line change.
struct LagConstants {
    int16_t lagLimit = 1000;  // loss marker and full-scale time, ms
    int16_t graphHeight = 40; // bar height at full scale, px
    int16_t lagCount = 376;   // slots in use and bars drawn
    int16_t graphLeft = 8;    // x offset of the bars
    int16_t graphTop = 64;    // y of the top of the graph band

    // A slot holding a lost reply; one above it, a slot not yet filled.
    constexpr int16_t lossMarker() const { return lagLimit; }
    constexpr int16_t emptyMarker() const { return static_cast<int16_t>(lagLimit + 1); }
    // The band of bars in window coordinates: the columns of slots 1 to
    // lagCount, from the full-scale row down to the baseline row.
    constexpr int bandLeft() const { return graphLeft + 1; }
    constexpr int bandHeight() const { return graphHeight + 1; }
};

inline constexpr LagConstants lagScale{};
