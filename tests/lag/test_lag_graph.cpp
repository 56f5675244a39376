#include "LagBars.h"
#include "LagGraph.h"

#include <QImage>
#include <QPainter>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>

namespace {
constexpr int count = LagHistory::count;
constexpr int16_t loss = LagHistory::lossMarker;
const QColor background(0xD4, 0xD0, 0xC8);
const QRgb green = qRgb(0, 0xC0, 0);
const QRgb red = qRgb(0xC0, 0, 0);

QImage render(const LagHistory &history, qreal ratio = 1)
{
    QImage image(QSize(397, 109) * ratio, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::black); // must be cleared by the drawing
    drawLagGraph(image, history, background);
    return image;
}

LagHistory withSample(int slot, int16_t value)
{
    LagHistory h;
    h.reset();
    h.push(value);
    for (int i = slot; i < count; ++i)
        h.push(LagHistory::emptyMarker);
    return h;
}

// Rows of column x painted in `colour`, as "first-last", or "" for none.
QString rowsOf(const QImage &image, int x, QRgb colour)
{
    int first = -1;
    int last = -1;
    for (int y = 0; y < image.height(); ++y) {
        if (image.pixel(x, y) == colour) {
            if (first < 0)
                first = y;
            last = y;
        }
    }
    return first < 0 ? QString() : QString("%1-%2").arg(first).arg(last);
}

int pixelsNotBackground(const QImage &image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixel(x, y) != background.rgb();
    return n;
}
// What a screen at a whole scale does with a drawing's changes: moves the
// band's pixels left and has the drawing paint the newest columns, or takes
// all of the drawing.
void catchUp(QImage &screen, LagDrawing &drawing, const LagDrawing::Change &change)
{
    if (change.whole || screen.size() != drawing.image().size()) {
        screen = drawing.image().copy();
        return;
    }
    const int ratio = int(screen.devicePixelRatio());
    const QRect band = drawing.band();
    const int shift = change.samples * ratio;
    const QRect device(band.topLeft() * ratio, band.size() * ratio);
    for (int y = device.top(); y <= device.bottom(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(screen.scanLine(y));
        std::copy(line + device.left() + shift, line + device.right() + 1, line + device.left());
    }
    QPainter painter(&screen);
    drawing.paint(painter, band.adjusted(band.width() - change.samples, 0, 0, 0));
}

} // namespace

class TestLagGraph : public QObject {
    Q_OBJECT

  private slots:
    void emptyHistoryShowsOnlyBackground()
    {
        LagHistory h;
        h.reset();
        QCOMPARE(pixelsNotBackground(render(h)), 0);
    }

    void newestTimeIsAGreenBarAtTheRight()
    {
        const QImage image = render(withSample(count, 500));
        QCOMPARE(rowsOf(image, 384, green), "84-104");
        QCOMPARE(pixelsNotBackground(image), 21);
    }

    void oldestLossIsAFullRedBarAtTheLeft()
    {
        const QImage image = render(withSample(1, loss));
        QCOMPARE(rowsOf(image, 9, red), "64-104");
        QCOMPARE(pixelsNotBackground(image), 41);
    }

    void fractionalTopsRoundToTheNearestRow()
    {
        // Down to and including the baseline, so that every reply shows.
        QCOMPARE(rowsOf(render(withSample(count, 0)), 384, green), "104-104");
        QCOMPARE(rowsOf(render(withSample(count, 12)), 384, green), "104-104"); // 103.52
        QCOMPARE(rowsOf(render(withSample(count, 13)), 384, green), "103-104");
        QCOMPARE(rowsOf(render(withSample(count, LagHistory::clampedTime)), 384, green), "64-104");
        QCOMPARE(rowsOf(render(withSample(count, LagHistory::emptyMarker)), 384, green),
                 ""); // empty slot
        // Half a row rounds to the even one: 37.5 ms ends at 102.5.
        QCOMPARE(barSpan(1, 38, 109).top, 102);
    }

    void negativeSamplesStayInsideTheSurface()
    {
        QCOMPARE(rowsOf(render(withSample(count, -50)), 384, green), "104-105");
        const QImage deep = render(withSample(200, -32768));
        QCOMPARE(rowsOf(deep, 208, green), "104-108");
        const BarSpan bar = barSpan(200, -32768, 109);
        QCOMPARE(bar.bottom, 109);
    }

    void everySlotHasItsColumn()
    {
        LagHistory h;
        h.reset();
        for (int i = 0; i < count; ++i)
            h.push(i % 2 ? loss : 500);
        const QImage image = render(h);
        QCOMPARE(rowsOf(image, 8, green) + rowsOf(image, 8, red), "");
        QCOMPARE(rowsOf(image, 9, green), "84-104");
        QCOMPARE(rowsOf(image, 384, red), "64-104");
        QCOMPARE(rowsOf(image, 385, green) + rowsOf(image, 385, red), "");
    }

    // Bars land on exactly the device pixels that QPainter's fillRect of
    // each bar's logical rectangle covers, at whole and fractional scales.
    void barsCoverWhatQPainterWouldFill()
    {
        LagHistory h;
        h.reset();
        for (int i = 0; i < count; ++i)
            h.push(static_cast<int16_t>(i * 37 % 1100 - 60));
        for (qreal ratio : {1.0, 1.25, 1.5, 1.75, 2.0, 3.0}) {
            QImage reference(QSize(397, 109) * ratio, QImage::Format_RGB32);
            reference.setDevicePixelRatio(ratio);
            reference.fill(background);
            QPainter painter(&reference);
            for (int i = 1; i <= count; ++i) {
                const BarSpan bar = barSpan(i, h.slot(i), 109);
                if (bar.bottom > bar.top && bar.colour != BarColour::Background)
                    painter.fillRect(QRect(bar.x, bar.top, 1, bar.bottom - bar.top),
                                     bar.colour == BarColour::Loss ? QColor(red) : QColor(green));
            }
            painter.end();
            QVERIFY2(render(h, ratio) == reference, qPrintable(QString::number(ratio)));
        }
    }

    // After every step of a random run of samples, gaps, resets and new
    // surfaces, the drawing is the graph of the history drawn whole, and a
    // screen that catches up now and then from the changes it was told of,
    // moving its band and painting the newest columns, shows the same.
    void aScreenThatCatchesUpShowsTheWholeDrawing()
    {
        for (const qreal ratio : {1.0, 2.0, 1.5}) {
            std::mt19937 random(7);
            auto below = [&](int n) { return int(random() % unsigned(n)); };
            LagHistory h;
            h.reset();
            LagDrawing drawing(h);
            drawing.setSurface({397, 109}, ratio, background);
            QImage screen;
            for (int step = 0; step < 3000; ++step) {
                const int what = below(100);
                const int16_t sample = what < 3    ? int16_t(-below(40000))
                                       : what < 15 ? loss
                                       : what < 17 ? int16_t(below(32767))
                                                   : int16_t(below(loss));
                if (what < 1)
                    h.reset();
                else if (what < 4)
                    h.pushRepeated(sample, below(count + 40));
                else if (what < 5)
                    drawing.setSurface({397, 109}, below(2) ? ratio : 3, background);
                else
                    h.push(sample);
                drawing.redraw();
                const QImage &image = drawing.image();
                if (image != render(h, image.devicePixelRatio()))
                    QFAIL(qPrintable(QString("ratio %1, step %2").arg(ratio).arg(step)));
                const bool wholeScale =
                    image.devicePixelRatio() == std::round(image.devicePixelRatio());
                if (wholeScale && below(3) == 0) {
                    catchUp(screen, drawing, drawing.takeUnshown());
                    if (screen != drawing.image())
                        QFAIL(
                            qPrintable(QString("screen: ratio %1, step %2").arg(ratio).arg(step)));
                }
            }
        }
    }

    void barsStayCrispWhenScaled()
    {
        const QImage image = render(withSample(count, 500), 2);
        QCOMPARE(rowsOf(image, 767, green), "");
        QCOMPARE(rowsOf(image, 768, green), "168-209");
        QCOMPARE(rowsOf(image, 769, green), "168-209");
        QCOMPARE(rowsOf(image, 770, green), "");
        QCOMPARE(pixelsNotBackground(image), 84);
    }
};

QTEST_MAIN(TestLagGraph)
#include "test_lag_graph.moc"
