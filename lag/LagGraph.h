#pragma once

#include "LagHistory.h"

#include <QColor>
#include <QImage>

// Clears `surface` (32 bits per pixel) to `background` and paints one bar per
// slot of the history.
void drawLagGraph(QImage &surface, const LagHistory &history, const QColor &background);

// The graph's persistent drawing, kept up to date with a history at the cost
// of what changed: new samples move the bars left by as many columns, and
// only the new columns are drawn. A reset, a new surface, or a move that is
// not a whole number of device pixels draws it whole.
class LagDrawing {
  public:
    // What following a history changed: the band moved left by `samples`
    // columns and its newest columns were drawn, or everything was drawn.
    // Changes add up, so a screen can catch up with several at once.
    struct Change {
        int samples = 0;
        bool whole = false;
        Change &operator+=(const Change &later);
        bool none() const { return samples == 0 && !whole; }
    };

    // A surface of `size` logical pixels at `ratio`, on `background`; nothing
    // changes when those are the ones in use.
    void setSurface(const QSize &size, qreal ratio, const QColor &background);
    // Brings the drawing up to date with `history`.
    Change follow(const LagHistory &history);
    const QImage &image() const { return image_; }
    // The part of the surface that follow() changes, in logical pixels: the
    // columns of the bars, from the full-scale row to the bottom (negative
    // samples hang below the baseline).
    QRect band() const;

  private:
    Change scroll(const LagHistory &history, int samples);

    QImage image_;
    QColor background_;
    bool drawn_ = false;
    uint64_t pushes_ = 0; // the history's counts the drawing shows
    uint64_t resets_ = 0;
};

// The newest samples in little, for a tray icon: one column per pixel of
// `icon`, newest at the right, on `background`. A time rises from the
// bottom in proportion to the graph's full scale, at least one pixel; a
// loss fills its column in red; empty slots stay background.
void drawLagMiniature(QImage &icon, const LagHistory &history, const QColor &background);
