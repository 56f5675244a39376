#pragma once

#include <QObject>
#include <QTimer>

#include <cstdint>

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

    void start(int64_t deadlineNs);
    void stop();

  signals:
    void timeout();

  private:
    void expired();

    int fd_ = -1;
    QSocketNotifier *notifier_ = nullptr;
    QTimer fallback_;
};
