#pragma once

#include "LagConstants.h"
#include "LagHistory.h"

#include <QColor>

class QImage;

// Clears `surface` (32 bits per pixel) to `background` and paints one bar per
// slot of the history.
void drawLagGraph(QImage &surface, const LagHistory &history, const LagConstants &constants,
                  const QColor &background);
