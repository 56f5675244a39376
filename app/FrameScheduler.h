#pragma once

#include "FramePacer.h"

#include <QObject>
#include <QTimer>

#include <functional>

class QWidget;

// Presents a window's changes in frames that the pacer times. Qt's requests
// to repaint the window are held here and replayed when a frame is due;
// `beforeFrame` runs first, to add what the frame is to show.
class FrameScheduler : public QObject {
  public:
    FrameScheduler(QWidget &window, FramePacer::Clock::duration period,
                   std::function<void()> beforeFrame);

    // Called by each handler once it has made all its changes: a frame that
    // is due is presented at once. A change that may wait (the sent count)
    // goes with the next frame rather than bringing one about.
    void changed(bool mayWait);

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void schedule();
    void present();

    QWidget &window_;
    FramePacer pacer_;
    QTimer timer_;
    std::function<void()> beforeFrame_;
    bool changesNoted_ = false; // the pacer knows of what Qt asks to repaint
    bool presenting_ = false;
};
