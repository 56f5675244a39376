#pragma once

#include "LagHistory.h"

#include <cstdint>
#include <string>

struct WindowStats {
    int32_t average = 0;     // ms, over the timed samples
    int16_t lossPercent = 0; // losses among timed and lost samples
    int16_t timed = 0;       // samples that are round trips
    int16_t losses = 0;
};

// One pass over slots 1..count: times below 1000 are averaged, 1000s count as
// losses, empty slots are skipped. With no sample at all the loss reads 0.
WindowStats windowStats(const LagHistory &history, int count);

// Total loss in percent from the sent and received counts, never below 0.
int32_t totalLossPercent(double sent, double received);

// Sequence numbers skipped between the last reply and this one, capped at
// `cap`: more losses than the history holds leave the same history.
int missedReplies(double seq, double lastSeq, int cap);

// What the graph shows, in words for a screen reader: the newest sample and
// the losses among the samples shown, e.g. "Newest round trip 23 ms; 3 lost of
// 120 samples".
std::string graphSummary(const LagHistory &history, int count);
