#include "DeadlineTimer.h"

#include <QTimer>

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

// Rounding up keeps the deadline from firing early.
void DeadlineTimer::startQtTimer(QTimer &timer, MonotonicTime deadline)
{
    using namespace std::chrono;
    const auto wait =
        ceil<milliseconds>(std::max(deadline - MonotonicClock::now(), nanoseconds(0)));
    timer.start(static_cast<int>(std::min<int64_t>(wait.count(), INT_MAX)));
}
