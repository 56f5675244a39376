#include "OutageWatch.h"

#include <algorithm>

namespace {

constexpr int lossesInARow = 3;
constexpr auto shortestSilence = std::chrono::seconds(2);
constexpr int intervalsOfSilence = 3;

} // namespace

void OutageWatch::started(Clock::time_point now, Wall::time_point wallNow)
{
    heard_ = now;
    heardWall_ = wallNow;
    lostInARow_ = 0;
    announced_ = false;
}

std::optional<OutageWatch::Back> OutageWatch::answered(Clock::time_point now,
                                                       Wall::time_point wallNow)
{
    std::optional<Back> back;
    if (announced_)
        back = Back{now - heard_, lostInARow_};
    heard_ = now;
    heardWall_ = wallNow;
    lostInARow_ = 0;
    announced_ = false;
    return back;
}

std::optional<OutageWatch::Went> OutageWatch::lost(Clock::time_point now, Clock::duration interval)
{
    ++lostInARow_;
    const Clock::duration silence =
        std::max<Clock::duration>(shortestSilence, intervalsOfSilence * interval);
    if (announced_ || lostInARow_ < lossesInARow || now - heard_ < silence)
        return std::nullopt;
    announced_ = true;
    return Went{heardWall_, heard_, lostInARow_};
}
