#include "DeadlineTimer.h"

#include <algorithm>
#include <climits>

// Qt's timers count whole milliseconds from now; rounding up keeps the
// deadline from firing early.
void DeadlineTimer::startFallback(MonotonicTime deadline)
{
    using namespace std::chrono;
    const auto wait =
        ceil<milliseconds>(std::max(deadline - MonotonicClock::now(), nanoseconds(0)));
    fallback_.start(static_cast<int>(std::min<int64_t>(wait.count(), INT_MAX)));
}
