#include "ReplyStats.h"

#include "NumberText.h"

#include <algorithm>

WindowStats windowStats(const LagHistory &history)
{
    int32_t sum = 0;
    int16_t timed = 0;
    int16_t losses = 0;
    for (int i = 1; i <= LagHistory::count; ++i) {
        const int16_t v = history.slot(i);
        if (v < LagHistory::lossMarker) {
            sum += v;
            ++timed;
        } else if (v == LagHistory::lossMarker) {
            ++losses;
        }
    }
    WindowStats stats;
    stats.timed = timed;
    stats.losses = losses;
    stats.average = sum;
    if (sum != 0 && timed != 0)
        stats.average = roundToInt16(static_cast<double>(sum) / timed);
    const double samples = static_cast<double>(losses) + timed;
    if (samples != 0)
        stats.lossPercent = roundToInt16(losses / (samples / 100));
    return stats;
}

int32_t totalLossPercent(double sent, double received)
{
    return std::max(roundToInt32(100 - received / (sent / 100)), 0);
}

int missedReplies(double seq, double lastSeq)
{
    if (!(seq > lastSeq + 1))
        return 0;
    return roundToInt32(std::min(seq - (lastSeq + 1), double(LagHistory::count)));
}

std::string graphSummary(const LagHistory &history)
{
    const WindowStats stats = windowStats(history);
    const int samples = stats.timed + stats.losses;
    if (samples == 0)
        return "No samples";
    const int16_t newest = history.slot(LagHistory::count);
    std::string text;
    if (newest < LagHistory::lossMarker)
        text = "Newest round trip " + msText(newest) + "; ";
    else if (newest == LagHistory::lossMarker)
        text = "Newest sample lost; ";
    return text + decimalText(stats.losses) + " lost of " + decimalText(samples) + " samples";
}
