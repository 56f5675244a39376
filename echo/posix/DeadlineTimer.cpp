#include "DeadlineTimer.h"

#include "IcmpSocket.h"

#include <QSocketNotifier>

#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

DeadlineTimer::DeadlineTimer(QObject *parent)
    : QObject(parent), fd_(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC))
{
    fallback_.setSingleShot(true);
    fallback_.setTimerType(Qt::PreciseTimer);
    connect(&fallback_, &QTimer::timeout, this, &DeadlineTimer::timeout);
    if (fd_ < 0)
        return;
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &DeadlineTimer::expired);
}

DeadlineTimer::~DeadlineTimer()
{
    if (fd_ >= 0)
        close(fd_);
}

// The monotonic clock here is CLOCK_MONOTONIC, the clock of monotonicNs().
void DeadlineTimer::start(int64_t deadlineNs)
{
    if (fd_ < 0) {
        const int64_t waitNs = std::max<int64_t>(deadlineNs - monotonicNs(), 0);
        fallback_.start(
            static_cast<int>(std::min<int64_t>((waitNs + 999'999) / 1'000'000, INT_MAX)));
        return;
    }
    // A deadline already past fires at once; zero would disarm instead.
    const int64_t at = std::max<int64_t>(deadlineNs, 1);
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(at / 1'000'000'000);
    when.it_value.tv_nsec = static_cast<long>(at % 1'000'000'000);
    timerfd_settime(fd_, TFD_TIMER_ABSTIME, &when, nullptr);
}

void DeadlineTimer::stop()
{
    fallback_.stop();
    if (fd_ >= 0) {
        const itimerspec disarm{};
        timerfd_settime(fd_, 0, &disarm, nullptr);
    }
}

void DeadlineTimer::expired()
{
    uint64_t expirations = 0;
    if (read(fd_, &expirations, sizeof expirations) != sizeof expirations)
        return; // disarmed or re-armed since it became readable
    emit timeout();
}
