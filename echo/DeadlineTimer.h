#pragma once

#include "Clocks.h"

#include <QObject>
#include <QTimer>

#include <optional>

class QSocketNotifier;

// A one-shot timer for an absolute deadline on the monotonic clock, as fine
// as the system allows (a timerfd behind a socket notifier on Linux), so
// that requests leave on time to the microsecond rather than the
// millisecond. Where no such timer can be had it falls back to a QTimer.
class DeadlineTimer : public QObject {
    Q_OBJECT

  public:
    explicit DeadlineTimer(QObject *parent = nullptr);
    ~DeadlineTimer() override;
    DeadlineTimer(const DeadlineTimer &) = delete;
    DeadlineTimer &operator=(const DeadlineTimer &) = delete;

    // Setting the deadline already set, or stopping a stopped timer, costs
    // no system call.
    void start(MonotonicTime deadline);
    void stop();

  signals:
    void timeout();

  private:
    void arm(MonotonicTime deadline); // each platform's own
    void disarm();
    void expired();
    void startFallback(MonotonicTime deadline);

    std::optional<MonotonicTime> armed_;

    int fd_ = -1; // a timerfd where the system has them
    QSocketNotifier *notifier_ = nullptr;
    QTimer fallback_;
};
