#pragma once

#include "LagConstants.h"
#include "LagHistory.h"

#include <QColor>

class QImage;

// Clears `surface` (32 bits per pixel) to `background` and paints one bar per
// slot of the history.
void drawLagGraph(QImage &surface, const LagHistory &history, const LagConstants &constants,
                  const QColor &background);

// The newest samples in little, for a tray icon: one column per pixel of
// `icon`, newest at the right, on `background`. A time rises from the
// bottom in proportion to the graph's full scale, at least one pixel; a
// loss fills its column in red; empty slots stay background.
void drawLagMiniature(QImage &icon, const LagHistory &history, const LagConstants &constants,
                      const QColor &background);
