#include "LagGraph.h"

#include "LagBars.h"

#include <algorithm>
#include <cmath>

namespace {

const QRgb timeColour = qRgb(0, 0xC0, 0);
const QRgb lossColour = qRgb(0xC0, 0, 0);

// The graph is drawn on the GUI thread alone; the table is rebuilt only when
// the surface's height changes.
const BarTable &barTable(int height)
{
    static BarTable table;
    if (!table.fits(height))
        table = BarTable(height);
    return table;
}

// Paints the bars of slots first..last over what the surface holds.
void drawBars(QImage &surface, const LagHistory &history, int first, int last)
{
    Q_ASSERT(surface.depth() == 32);
    const qreal ratio = surface.devicePixelRatio();
    const BarTable &table = barTable(surface.deviceIndependentSize().toSize().height());
    uchar *const bits = surface.bits();
    const qsizetype stride = surface.bytesPerLine();
    for (int i = first; i <= last; ++i) {
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

} // namespace

void drawLagGraph(QImage &surface, const LagHistory &history, const QColor &background)
{
    surface.fill(background);
    drawBars(surface, history, 1, LagHistory::count);
}

void LagDrawing::setSurface(const QSize &size, qreal ratio, const QColor &background)
{
    if (!image_.isNull() && image_.deviceIndependentSize() == QSizeF(size) &&
        image_.devicePixelRatio() == ratio && background_ == background)
        return;
    image_ = QImage(size * ratio, QImage::Format_RGB32);
    image_.setDevicePixelRatio(ratio);
    background_ = background;
    drawn_ = false;
}

LagDrawing::Change &LagDrawing::Change::operator+=(const Change &later)
{
    samples += later.samples;
    whole = whole || later.whole || samples >= LagHistory::count;
    return *this;
}

LagDrawing::Change LagDrawing::follow(const LagHistory &history)
{
    const uint64_t added = history.pushes() - pushes_;
    const qreal shift = double(added) * image_.devicePixelRatio();
    Change change;
    if (!drawn_ || history.resets() != resets_ || added >= uint64_t(LagHistory::count) ||
        shift != std::round(shift)) {
        drawLagGraph(image_, history, background_);
        change.whole = true;
    } else if (added > 0) {
        change = scroll(history, int(added));
    }
    drawn_ = true;
    pushes_ = history.pushes();
    resets_ = history.resets();
    return change;
}

QRect LagDrawing::band() const
{
    const int height = int(image_.deviceIndependentSize().height());
    return {lagScale.bandLeft(), lagScale.graphTop, LagHistory::count, height - lagScale.graphTop};
}

// Moves the band's columns left by `samples` and draws the newest.
LagDrawing::Change LagDrawing::scroll(const LagHistory &history, int samples)
{
    const qreal ratio = image_.devicePixelRatio();
    const int shift = qRound(samples * ratio);
    const QRect band = this->band();
    const int left = qRound(band.left() * ratio);
    const int right = std::min(qRound((band.right() + 1) * ratio), int(image_.width()));
    if (shift >= right - left) {
        drawLagGraph(image_, history, background_); // a surface narrower than the band
        return {0, true};
    }
    uchar *const bits = image_.bits();
    const qsizetype stride = image_.bytesPerLine();
    for (int y = qRound(band.top() * ratio); y < image_.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(bits + y * stride);
        std::copy(line + left + shift, line + right, line + left);
        std::fill(line + right - shift, line + right, background_.rgb());
    }
    drawBars(image_, history, LagHistory::count - samples + 1, LagHistory::count);
    return {samples, false};
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
            icon.setPixel(x, y, loss ? lossColour : timeColour);
    }
}
