#include "DeadlineTimer.h"

#include <algorithm>
#include <climits>

void DeadlineTimer::start(MonotonicTime deadline)
{
    if (armed_ == deadline)
        return;
    armed_ = deadline;
    arm(deadline);
}

void DeadlineTimer::stop()
{
    if (!armed_)
        return;
    armed_.reset();
    disarm();
}

void DeadlineTimer::expired()
{
    armed_.reset();
    emit timeout();
}

// Qt's timers count whole milliseconds from now; rounding up keeps the
// deadline from firing early.
void DeadlineTimer::startFallback(MonotonicTime deadline)
{
    using namespace std::chrono;
    const auto wait =
        ceil<milliseconds>(std::max(deadline - MonotonicClock::now(), nanoseconds(0)));
    fallback_.start(static_cast<int>(std::min<int64_t>(wait.count(), INT_MAX)));
}
