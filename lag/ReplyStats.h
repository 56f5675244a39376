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

// One pass over the slots: times are averaged, loss markers counted as
// losses, empty slots skipped. With no sample at all the loss reads 0.
WindowStats windowStats(const LagHistory &history);

// Total loss in percent from the sent and received counts, never below 0.
int32_t totalLossPercent(double sent, double received);

// Sequence numbers skipped between the last reply and this one, capped at the
// history's length: more losses than it holds leave the same history.
int missedReplies(double seq, double lastSeq);

// What the graph shows, in words for a screen reader: the newest sample and
// the losses among the samples shown, e.g. "Newest round trip 23 ms; 3 lost of
// 120 samples".
std::string graphSummary(const LagHistory &history);
