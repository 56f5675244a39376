#include "DeadlineTimer.h"

// Windows has no timer descriptor to wait on; Qt's precise timers there are
// the system's high-resolution ones.
DeadlineTimer::DeadlineTimer(QObject *parent) : QObject(parent)
{
    fallback_.setSingleShot(true);
    fallback_.setTimerType(Qt::PreciseTimer);
    connect(&fallback_, &QTimer::timeout, this, &DeadlineTimer::expired);
}

DeadlineTimer::~DeadlineTimer() = default;

void DeadlineTimer::arm(MonotonicTime deadline)
{
    startFallback(deadline);
}

void DeadlineTimer::disarm()
{
    fallback_.stop();
}
