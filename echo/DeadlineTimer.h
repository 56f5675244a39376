#pragma once

#include "Clocks.h"

#include <QObject>
#include <QTimer>

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

    void start(MonotonicTime deadline);
    void stop();

  signals:
    void timeout();

  private:
    void expired();
    void startFallback(MonotonicTime deadline);

    int fd_ = -1; // a timerfd where the system has them
    QSocketNotifier *notifier_ = nullptr;
    QTimer fallback_;
};
