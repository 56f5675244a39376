#include "LagBars.h"
#include "LagGraph.h"

#include <QImage>
#include <QPainter>
#include <QTest>

namespace {
const LagConstants constants{1000, 40, 376, 8, 64};
const QColor background(0xD4, 0xD0, 0xC8);
const QRgb green = qRgb(0, 0xC0, 0);
const QRgb red = qRgb(0xC0, 0, 0);

QImage render(const LagHistory &history, qreal ratio = 1)
{
    QImage image(QSize(397, 109) * ratio, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::black); // must be cleared by the drawing
    drawLagGraph(image, history, constants, background);
    return image;
}

LagHistory withSample(int slot, int16_t value)
{
    LagHistory h;
    h.reset(constants.lagCount);
    h.push(value, constants.lagCount);
    for (int i = slot; i < constants.lagCount; ++i)
        h.push(LagHistory::emptyMarker, constants.lagCount);
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
} // namespace

class TestLagGraph : public QObject {
    Q_OBJECT

  private slots:
    void emptyHistoryShowsOnlyBackground()
    {
        LagHistory h;
        h.reset(constants.lagCount);
        QCOMPARE(pixelsNotBackground(render(h)), 0);
    }

    void newestTimeIsAGreenBarAtTheRight()
    {
        const QImage image = render(withSample(376, 500));
        QCOMPARE(rowsOf(image, 384, green), "84-104");
        QCOMPARE(pixelsNotBackground(image), 21);
    }

    void oldestLossIsAFullRedBarAtTheLeft()
    {
        const QImage image = render(withSample(1, 1000));
        QCOMPARE(rowsOf(image, 9, red), "64-104");
        QCOMPARE(pixelsNotBackground(image), 41);
    }

    void fractionalTopsRoundToTheNearestRow()
    {
        // Down to and including the baseline, so that every reply shows.
        QCOMPARE(rowsOf(render(withSample(376, 0)), 384, green), "104-104");
        QCOMPARE(rowsOf(render(withSample(376, 12)), 384, green), "104-104"); // 103.52
        QCOMPARE(rowsOf(render(withSample(376, 13)), 384, green), "103-104");
        QCOMPARE(rowsOf(render(withSample(376, 999)), 384, green), "64-104");
        QCOMPARE(rowsOf(render(withSample(376, 1001)), 384, green), ""); // empty slot
        // Half a row rounds to the even one: 37.5 ms ends at 102.5.
        QCOMPARE(barSpan(1, 38, constants, 109).top, 102);
    }

    void negativeSamplesStayInsideTheSurface()
    {
        QCOMPARE(rowsOf(render(withSample(376, -50)), 384, green), "104-105");
        const QImage deep = render(withSample(200, -32768));
        QCOMPARE(rowsOf(deep, 208, green), "104-108");
        const BarSpan bar = barSpan(200, -32768, constants, 109);
        QCOMPARE(bar.bottom, 109);
    }

    void everySlotHasItsColumn()
    {
        LagHistory h;
        h.reset(constants.lagCount);
        for (int i = 0; i < constants.lagCount; ++i)
            h.push(i % 2 ? 1000 : 500, constants.lagCount);
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
        h.reset(constants.lagCount);
        for (int i = 0; i < constants.lagCount; ++i)
            h.push(static_cast<int16_t>(i * 37 % 1100 - 60), constants.lagCount);
        for (qreal ratio : {1.0, 1.25, 1.5, 1.75, 2.0, 3.0}) {
            QImage reference(QSize(397, 109) * ratio, QImage::Format_RGB32);
            reference.setDevicePixelRatio(ratio);
            reference.fill(background);
            QPainter painter(&reference);
            for (int i = 1; i <= constants.lagCount; ++i) {
                const BarSpan bar = barSpan(i, h.slot(i), constants, 109);
                if (bar.bottom > bar.top && bar.colour != BarColour::Background)
                    painter.fillRect(QRect(bar.x, bar.top, 1, bar.bottom - bar.top),
                                     bar.colour == BarColour::Loss ? QColor(red) : QColor(green));
            }
            painter.end();
            QVERIFY2(render(h, ratio) == reference, qPrintable(QString::number(ratio)));
        }
    }

    void barsStayCrispWhenScaled()
    {
        const QImage image = render(withSample(376, 500), 2);
        QCOMPARE(rowsOf(image, 767, green), "");
        QCOMPARE(rowsOf(image, 768, green), "168-209");
        QCOMPARE(rowsOf(image, 769, green), "168-209");
        QCOMPARE(rowsOf(image, 770, green), "");
        QCOMPARE(pixelsNotBackground(image), 84);
    }
};

QTEST_MAIN(TestLagGraph)
#include "test_lag_graph.moc"
