#include "FrameScheduler.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

#include <utility>

FrameScheduler::FrameScheduler(QWidget &window, FramePacer::Clock::duration period,
                               std::function<void()> beforeFrame)
    : QObject(&window), window_(window), pacer_(period), beforeFrame_(std::move(beforeFrame))
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &FrameScheduler::present);
    window_.installEventFilter(this);
}

void FrameScheduler::changed(bool mayWait)
{
    pacer_.changed(FramePacer::Clock::now(), mayWait);
    changesNoted_ = true;
    schedule();
}

// Qt asks to repaint whatever changed; the pacer decides when.
bool FrameScheduler::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != &window_ || event->type() != QEvent::UpdateRequest || presenting_)
        return false;
    if (!changesNoted_)
        pacer_.changed(FramePacer::Clock::now(), false); // typing, the cursor, the button
    schedule();
    return true;
}

void FrameScheduler::schedule()
{
    const auto now = FramePacer::Clock::now();
    const auto due = pacer_.due();
    if (!due)
        timer_.stop();
    else if (*due <= now)
        present();
    else
        timer_.start(std::chrono::ceil<std::chrono::milliseconds>(*due - now));
}

void FrameScheduler::present()
{
    const auto now = FramePacer::Clock::now();
    const auto due = pacer_.due();
    if (!due)
        return;
    if (*due > now) {
        schedule();
        return;
    }
    timer_.stop();
    beforeFrame_();
    // Paints what changed and hands it to the screen.
    presenting_ = true;
    QEvent sync(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(&window_, &sync);
    presenting_ = false;
    pacer_.presented(now);
    changesNoted_ = false;
}
