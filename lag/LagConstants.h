#pragma once

#include <cstdint>

// Scale and placement of the lag history and its graph, set once at start-up.
struct LagConstants {
    int16_t lagLimit = 0;    // loss marker and full-scale time, ms
    int16_t graphHeight = 0; // bar height at full scale, px
    int16_t lagCount = 0;    // slots in use and bars drawn
    int16_t graphLeft = 0;   // x offset of the bars
    int16_t graphTop = 0;    // y of the top of the graph band

    bool operator==(const LagConstants &) const = default;
};
