#include "ReplyStats.h"

#include "NumberText.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

WindowStats windowStats(const LagHistory &history)
{
    int32_t sum = 0;
    int16_t timed = 0;
    int16_t losses = 0;
    for (const int16_t v : history.samples()) {
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

std::optional<Spread> spread(const LagHistory &history)
{
    std::array<int16_t, LagHistory::count> times;
    size_t timed = 0;
    int64_t differences = 0;
    int pairs = 0;
    std::optional<int16_t> previous; // the slot before, where it held a round trip
    for (const int16_t v : history.samples()) {
        if (v >= LagHistory::lossMarker) {
            previous.reset();
            continue;
        }
        if (previous) {
            differences += std::abs(v - *previous);
            ++pairs;
        }
        previous = v;
        times[timed++] = v;
    }
    if (timed == 0)
        return std::nullopt;
    // Nearest rank: the smallest value with at least 95 % of them at or below it.
    const size_t rank = (95 * timed + 99) / 100;
    std::nth_element(times.begin(), times.begin() + (rank - 1), times.begin() + timed);
    Spread s;
    s.p95Ms = times[rank - 1];
    s.jitterMs = pairs ? roundToInt32(double(differences) / pairs) : 0;
    return s;
}

std::string spreadText(const LagHistory &history)
{
    const auto s = spread(history);
    return s ? "Jitter: " + msText(s->jitterMs) + ", 95th percentile: " + msText(s->p95Ms) : "";
}

double windowSpanSeconds(double intervalMs)
{
    return std::floor(LagHistory::count * intervalMs / 1000);
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
