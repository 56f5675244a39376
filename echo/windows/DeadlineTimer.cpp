#include "DeadlineTimer.h"

#include <QTimer>

// Windows has no timer descriptor to wait on; Qt's precise timers there are
// the system's high-resolution ones.
struct DeadlineTimer::Native {
    QTimer timer;
};

DeadlineTimer::DeadlineTimer(QObject *parent) : QObject(parent), native_(std::make_unique<Native>())
{
    native_->timer.setSingleShot(true);
    native_->timer.setTimerType(Qt::PreciseTimer);
    connect(&native_->timer, &QTimer::timeout, this, &DeadlineTimer::expired);
}

DeadlineTimer::~DeadlineTimer() = default;

void DeadlineTimer::arm(MonotonicTime deadline)
{
    startQtTimer(native_->timer, deadline);
}

void DeadlineTimer::disarm()
{
    native_->timer.stop();
}
