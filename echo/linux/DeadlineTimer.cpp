#include "DeadlineTimer.h"

#include <QSocketNotifier>
#include <QTimer>

#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>

// A timerfd behind a socket notifier; a QTimer where none can be made.
struct DeadlineTimer::Native {
    int fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    QTimer fallback;

    ~Native()
    {
        if (fd >= 0)
            close(fd);
    }
};

DeadlineTimer::DeadlineTimer(QObject *parent) : QObject(parent), native_(std::make_unique<Native>())
{
    native_->fallback.setSingleShot(true);
    native_->fallback.setTimerType(Qt::PreciseTimer);
    connect(&native_->fallback, &QTimer::timeout, this, &DeadlineTimer::expired);
    const int fd = native_->fd;
    if (fd < 0)
        return;
    auto *notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, fd] {
        uint64_t expirations = 0;
        // Nothing to read when it was disarmed or re-armed since it became readable.
        if (read(fd, &expirations, sizeof expirations) == sizeof expirations)
            expired();
    });
}

DeadlineTimer::~DeadlineTimer() = default;

// MonotonicClock is CLOCK_MONOTONIC here, the timerfd's clock.
void DeadlineTimer::arm(MonotonicTime deadline)
{
    if (native_->fd < 0) {
        startQtTimer(native_->fallback, deadline);
        return;
    }
    // A deadline already past fires at once; zero would disarm instead.
    const int64_t at = std::max<int64_t>(nsSinceOrigin(deadline), 1);
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(at / 1'000'000'000);
    when.it_value.tv_nsec = static_cast<long>(at % 1'000'000'000);
    timerfd_settime(native_->fd, TFD_TIMER_ABSTIME, &when, nullptr);
}

void DeadlineTimer::disarm()
{
    native_->fallback.stop();
    if (native_->fd >= 0) {
        const itimerspec disarm{};
        timerfd_settime(native_->fd, 0, &disarm, nullptr);
    }
}
