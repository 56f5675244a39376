#pragma once

#include "Clocks.h"

#include <QObject>

#include <memory>
#include <optional>

class QTimer;

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
    struct Native; // each platform's own: a timer and how it is set
    void arm(MonotonicTime deadline);
    void disarm();
    void expired();
    // Qt's timers count whole milliseconds: the fallback where a platform
    // has nothing finer.
    static void startQtTimer(QTimer &timer, MonotonicTime deadline);

    std::optional<MonotonicTime> armed_;
    std::unique_ptr<Native> native_;
};
