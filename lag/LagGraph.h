#pragma once

#include "LagHistory.h"

#include <QColor>
#include <QImage>

class QPainter;

// Clears `surface` (32 bits per pixel) to `background` and paints one bar per
// slot of the history.
void drawLagGraph(QImage &surface, const LagHistory &history, const QColor &background);

// The graph of a history as the window shows it. It follows the history
// only when asked to (redraw), and then lazily: when it is next painted,
// looked at or shown, so that several samples within one frame move the
// band once. It keeps the samples it last followed, and paints a few
// columns at a time bar by bar, or else from an image of all of it, drawn
// anew after a change.
class LagDrawing {
  public:
    // What following the history changed: the band moved left by `samples`
    // columns and has new ones at its right, or all of it changed. Changes
    // add up, so a screen can catch up with several at once.
    struct Change {
        int samples = 0;
        bool whole = false;
        Change &operator+=(const Change &later);
        bool none() const { return samples == 0 && !whole; }
    };

    explicit LagDrawing(const LagHistory &history) : history_(history) {}

    // A surface of `size` logical pixels at `ratio`, on `background`; nothing
    // changes when those are the ones in use.
    void setSurface(const QSize &size, qreal ratio, const QColor &background);
    // The drawing is to show the history as it is now.
    void redraw() { asked_ = true; }
    // What changed since the screen last caught up, which it now does.
    Change takeUnshown();
    // All of the drawing, at the surface's ratio.
    const QImage &image();
    // Paints `rect` (logical pixels) of the drawing with `painter`.
    void paint(QPainter &painter, const QRect &rect);
    // The part of the surface the graph changes, in logical pixels.
    QRect band() const;

  private:
    void follow();

    const LagHistory &history_;
    bool asked_ = false;
    Change unshown_;
    LagHistory shown_;
    QSize size_;
    qreal ratio_ = 1;
    QColor background_;
    QImage image_;
    bool imageDrawn_ = false;
    bool followed_ = false; // since the surface was set
    uint64_t pushes_ = 0;   // the history's counts the drawing shows
    uint64_t resets_ = 0;
};

// The newest samples in little, for a tray icon: one column per pixel of
// `icon`, newest at the right, on `background`. A time rises from the
// bottom in proportion to the graph's full scale, at least one pixel; a
// loss fills its column in red; empty slots stay background.
void drawLagMiniature(QImage &icon, const LagHistory &history, const QColor &background);
