#pragma once

#include "LagHistory.h"

#include <cstdint>
#include <optional>
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

// How much the round trips in the history vary: the jitter, the mean of the
// absolute differences between round trips in adjacent slots (a loss between
// two is not bridged), and the 95th percentile by nearest rank, each rounded
// as the window rounds. None without a round trip.
struct Spread {
    int32_t jitterMs = 0;
    int32_t p95Ms = 0;
};
std::optional<Spread> spread(const LagHistory &history);
// The same in words, "Jitter: 3 ms, 95th percentile: 41 ms"; empty without
// a round trip.
std::string spreadText(const LagHistory &history);

// The whole seconds that the history's samples span at `intervalMs` (kept
// as a double: any interval the engine takes gives one).
double windowSpanSeconds(double intervalMs);

// Total loss in percent from the sent and received counts, never below 0.
int32_t totalLossPercent(double sent, double received);

// Sequence numbers skipped between the last reply and this one, capped at the
// history's length: more losses than it holds leave the same history.
int missedReplies(double seq, double lastSeq);

// What the graph shows, in words for a screen reader: the newest sample and
// the losses among the samples shown, e.g. "Newest round trip 23 ms; 3 lost of
// 120 samples".
std::string graphSummary(const LagHistory &history);
