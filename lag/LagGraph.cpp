#include "LagGraph.h"

#include "LagBars.h"

#include <QImage>

#include <algorithm>
#include <cmath>

namespace {

const QRgb timeColour = qRgb(0, 0xC0, 0);
const QRgb lossColour = qRgb(0xC0, 0, 0);

// The graph is drawn on the GUI thread alone; the table is rebuilt only when
// the constants or the surface change.
const BarTable &barTable(const LagConstants &constants, int height)
{
    static BarTable table;
    if (!table.fits(constants, height))
        table = BarTable(constants, height);
    return table;
}

} // namespace

void drawLagGraph(QImage &surface, const LagHistory &history, const LagConstants &constants,
                  const QColor &background)
{
    Q_ASSERT(surface.depth() == 32);
    surface.fill(background);
    const qreal ratio = surface.devicePixelRatio();
    const BarTable &table = barTable(constants, surface.deviceIndependentSize().toSize().height());
    uchar *const bits = surface.bits();
    const qsizetype stride = surface.bytesPerLine();
    for (int i = 1; i <= constants.lagCount; ++i) {
        const BarSpan bar = table.span(i, history.slot(i));
        // Empty slots are background, which the surface already is.
        if (bar.bottom <= bar.top || bar.colour == BarColour::Background)
            continue;
        const QRgb colour = bar.colour == BarColour::Loss ? lossColour : timeColour;
        // Whole logical pixels, mapped to device pixels the way QPainter's
        // fillRect rounds them, so bars stay crisp at any scale.
        const int left = qRound(bar.x * ratio);
        const int right = std::min(qRound((bar.x + 1) * ratio), surface.width());
        const int top = qRound(bar.top * ratio);
        const int bottom = std::min(qRound(bar.bottom * ratio), surface.height());
        for (int y = top; y < bottom; ++y) {
            auto *line = reinterpret_cast<QRgb *>(bits + y * stride);
            std::fill(line + left, line + right, colour);
        }
    }
}

void drawLagMiniature(QImage &icon, const LagHistory &history, const LagConstants &constants,
                      const QColor &background)
{
    Q_ASSERT(icon.depth() == 32);
    icon.fill(background);
    const int height = icon.height();
    const int columns = std::min<int>(icon.width(), constants.lagCount);
    for (int column = 0; column < columns; ++column) {
        const int16_t v = history.slot(constants.lagCount - column);
        if (v == constants.emptyMarker())
            continue;
        const bool loss = v == constants.lossMarker();
        const int rows =
            loss ? height
                 : std::clamp(int(std::lround(double(v) * height / constants.lagLimit)), 1, height);
        const int x = icon.width() - 1 - column;
        for (int y = height - rows; y < height; ++y)
            icon.setPixel(x, y, loss ? lossColour : timeColour);
    }
}
