#include "DeadlineTimer.h"

#include <QSocketNotifier>

#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>

DeadlineTimer::DeadlineTimer(QObject *parent)
    : QObject(parent), fd_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC))
{
    fallback_.setSingleShot(true);
    fallback_.setTimerType(Qt::PreciseTimer);
    connect(&fallback_, &QTimer::timeout, this, &DeadlineTimer::expired);
    if (fd_ < 0)
        return;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        uint64_t expirations = 0;
        // Nothing to read when it was disarmed or re-armed since it became readable.
        if (read(fd_, &expirations, sizeof expirations) == sizeof expirations)
            expired();
    });
}

DeadlineTimer::~DeadlineTimer()
{
    if (fd_ >= 0)
        close(fd_);
}

// MonotonicClock is CLOCK_MONOTONIC here, the timerfd's clock.
void DeadlineTimer::arm(MonotonicTime deadline)
{
    if (fd_ < 0) {
        startFallback(deadline);
        return;
    }
    // A deadline already past fires at once; zero would disarm instead.
    const int64_t at = std::max<int64_t>(nsSinceOrigin(deadline), 1);
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(at / 1'000'000'000);
    when.it_value.tv_nsec = static_cast<long>(at % 1'000'000'000);
    timerfd_settime(fd_, TFD_TIMER_ABSTIME, &when, nullptr);
}

void DeadlineTimer::disarm()
{
    fallback_.stop();
    if (fd_ >= 0) {
        const itimerspec disarm{};
        timerfd_settime(fd_, 0, &disarm, nullptr);
    }
}
