#include "LagGraph.h"

#include "LagBars.h"

#include <QImage>
#include <QPainter>

namespace {
const QColor timeColour(0, 0xC0, 0);
const QColor lossColour(0xC0, 0, 0);
} // namespace

void drawLagGraph(QImage &surface, const LagHistory &history, const LagConstants &constants,
                  const QColor &background)
{
    surface.fill(background);
    QPainter painter(&surface);
    const int height = surface.deviceIndependentSize().toSize().height();
    for (int i = 1; i <= constants.lagCount; ++i) {
        const BarSpan bar = barSpan(i, history.slot(i), constants, height);
        if (bar.bottom <= bar.top)
            continue;
        const QColor &colour = bar.colour == BarColour::Loss   ? lossColour
                               : bar.colour == BarColour::Time ? timeColour
                                                               : background;
        // Whole logical pixels, so bars stay one crisp column at any scale.
        painter.fillRect(QRect(bar.x, bar.top, 1, bar.bottom - bar.top), colour);
    }
}
