#include "LagGraph.h"

#include "LagBars.h"

#include <QPainter>

#include <algorithm>
#include <utility>

namespace {

// The graph is drawn on the GUI thread alone; the table is rebuilt only when
// the surface's height changes.
const BarTable &barTable(int height)
{
    static BarTable table;
    if (!table.fits(height))
        table = BarTable(height);
    return table;
}

} // namespace

void drawLagGraph(QImage &surface, const LagHistory &history, const QColor &background)
{
    Q_ASSERT(surface.depth() == 32);
    surface.fill(background);
    const qreal ratio = surface.devicePixelRatio();
    const BarTable &table = barTable(surface.deviceIndependentSize().toSize().height());
    uchar *const bits = surface.bits();
    const qsizetype stride = surface.bytesPerLine();
    for (int i = 1; i <= LagHistory::count; ++i) {
        const BarSpan bar = table.span(i, history.slot(i));
        // Empty slots are background, which the surface already is.
        if (bar.bottom <= bar.top || bar.colour == BarColour::Background)
            continue;
        const QRgb colour = barRgb(bar.colour);
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

void LagDrawing::setSurface(const QSize &size, qreal ratio, const QColor &background)
{
    if (followed_ && size == size_ && ratio == ratio_ && background == background_)
        return;
    size_ = size;
    ratio_ = ratio;
    background_ = background;
    followed_ = false;
    imageDrawn_ = false;
}

LagDrawing::Change &LagDrawing::Change::operator+=(const Change &later)
{
    samples += later.samples;
    whole = whole || later.whole || samples >= LagHistory::count;
    return *this;
}

// Only what was asked for: a Start empties the history but leaves the graph
// as it stood until the next sample.
void LagDrawing::follow()
{
    if (!asked_)
        return;
    asked_ = false;
    const uint64_t added = history_.pushes() - pushes_;
    Change change;
    if (!followed_ || history_.resets() != resets_ || added >= uint64_t(LagHistory::count))
        change.whole = true;
    else
        change.samples = int(added);
    if (!change.none()) {
        shown_ = history_;
        imageDrawn_ = false;
    }
    followed_ = true;
    pushes_ = history_.pushes();
    resets_ = history_.resets();
    unshown_ += change;
}

LagDrawing::Change LagDrawing::takeUnshown()
{
    follow();
    return std::exchange(unshown_, {});
}

const QImage &LagDrawing::image()
{
    follow();
    if (!imageDrawn_) {
        if (image_.deviceIndependentSize() != QSizeF(size_) ||
            image_.devicePixelRatio() != ratio_) {
            image_ = QImage(size_ * ratio_, QImage::Format_RGB32);
            image_.setDevicePixelRatio(ratio_);
        }
        drawLagGraph(image_, shown_, background_);
        imageDrawn_ = true;
    }
    return image_;
}

void LagDrawing::paint(QPainter &painter, const QRect &rect)
{
    follow();
    const QRect bars = rect & band();
    // Up to a few columns, as when a frame adds the newest, the bars one by
    // one cost less than drawing the image of them all; they fill the same
    // pixels as drawLagGraph.
    const int fewColumns = 16;
    const bool oneByOne = !bars.isEmpty() && bars.width() <= fewColumns;
    // Outside the band the drawing is all background.
    if (bars != rect || oneByOne)
        painter.fillRect(rect, background_);
    if (bars.isEmpty())
        return;
    if (!oneByOne) {
        painter.drawImage(bars, image(),
                          QRectF(QPointF(bars.topLeft()) * ratio_, QSizeF(bars.size()) * ratio_));
        return;
    }
    const BarTable &table = barTable(size_.height());
    for (int x = bars.left(); x <= bars.right(); ++x) {
        const int slot = x - lagScale.graphLeft;
        const BarSpan bar = table.span(slot, shown_.slot(slot));
        if (bar.bottom > bar.top && bar.colour != BarColour::Background)
            painter.fillRect(QRect(bar.x, bar.top, 1, bar.bottom - bar.top),
                             QColor(barRgb(bar.colour)));
    }
}

QRect LagDrawing::band() const
{
    return {lagScale.bandLeft(), lagScale.graphTop, LagHistory::count,
            size_.height() - lagScale.graphTop};
}

void drawLagMiniature(QImage &icon, const LagHistory &history, const QColor &background)
{
    Q_ASSERT(icon.depth() == 32);
    icon.fill(background);
    const int height = icon.height();
    const int columns = std::min<int>(icon.width(), LagHistory::count);
    for (int column = 0; column < columns; ++column) {
        const int16_t v = history.slot(LagHistory::count - column);
        if (v == LagHistory::emptyMarker)
            continue;
        const bool loss = v == LagHistory::lossMarker;
        const int rows =
            loss ? height
                 : std::clamp(int(std::lround(double(v) * height / lagScale.lagLimit)), 1, height);
        const int x = icon.width() - 1 - column;
        for (int y = height - rows; y < height; ++y)
            icon.setPixel(x, y, loss ? lossRgb : timeRgb);
    }
}
