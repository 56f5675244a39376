#include "FramePacer.h"
#include "WindowProbe.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QPaintEvent>
#include <QScreen>
#include <QStyleHints>
#include <QTest>

#include <map>

using namespace std::chrono_literals;

namespace {
using Clock = FramePacer::Clock;
constexpr auto period = 30ms;

// Notes the regions a widget is asked to paint, its paint events, and the
// frames they came in: paints less than 2 ms apart are one frame.
struct PaintedRegions : QObject {
    QRegion painted;
    int paints = 0;
    int frames = 0;
    QElapsedTimer sinceLast;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        painted += static_cast<QPaintEvent *>(event)->region();
        ++paints;
        if (!sinceLast.isValid() || sinceLast.nsecsElapsed() > 2'000'000)
            ++frames;
        sinceLast.start();
        return false;
    }
};

// What the screen holds of the window, beside what the window would paint now.
bool screenShowsTheWindow(QWidget &window)
{
    const QImage onScreen = window.screen()->grabWindow(window.winId()).toImage();
    const QImage now = window.grab().toImage();
    return onScreen.convertToFormat(QImage::Format_RGB32) ==
           now.convertToFormat(QImage::Format_RGB32);
}
} // namespace

class TestFrames : public QObject {
    Q_OBJECT

  private slots:
    void pacerPresentsAtMostOncePerPeriodAndNothingLate()
    {
        const Clock::time_point t0{};
        FramePacer pacer(period);
        QVERIFY(!pacer.due());

        // A reply after a quiet spell is shown at once.
        pacer.changed(t0, false);
        QCOMPARE(*pacer.due(), t0);
        pacer.presented(t0);
        QVERIFY(!pacer.due());

        // Within the period: at the end of it, not before.
        pacer.changed(t0 + 10ms, false);
        pacer.changed(t0 + 20ms, false);
        QCOMPARE(*pacer.due(), t0 + period);
        pacer.presented(t0 + period);

        // The sent count waits for company, at most one period.
        pacer.changed(t0 + 100ms, true);
        QCOMPARE(*pacer.due(), t0 + 100ms + period);
        // ... and its reply brings the frame at once, the period being over.
        pacer.changed(t0 + 101ms, false);
        QCOMPARE(*pacer.due(), t0 + 101ms);
        pacer.presented(t0 + 101ms);

        // A send right after a frame, and a reply late in the next period:
        // the send is not held past its own period.
        pacer.changed(t0 + 102ms, true);
        pacer.changed(t0 + 125ms, false);
        QCOMPARE(*pacer.due(), t0 + 131ms);
        pacer.presented(t0 + 131ms);
        pacer.changed(t0 + 140ms, true);
        pacer.changed(t0 + 175ms, false);
        QCOMPARE(*pacer.due(), t0 + 170ms);
    }

    // Replies at 100 a second: about 30 frames a second reach the screen,
    // each change within one frame, and the last state is what stays there.
    void theWindowPresentsAtMostOneFramePerPeriod()
    {
        WindowProbe p("h");
        p.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(p.window.get()));
        PaintedRegions painted;
        p.window->installEventFilter(&painted);
        int seq = 0;
        QTimer replies;
        QObject::connect(&replies, &QTimer::timeout, [&] {
            ++seq;
            p.engine.sent();
            p.engine.reply(static_cast<qint16>(seq), seq % 300);
        });
        QElapsedTimer clock;
        clock.start();
        replies.start(10);
        QEventLoop loop; // not qWait, which sleeps in steps of 10 ms
        QTimer::singleShot(1000, &loop, &QEventLoop::quit);
        loop.exec();
        replies.stop();
        const double seconds = clock.elapsed() / 1000.0;
        qInfo("%d replies, %d frames in %.2f s", seq, painted.frames, seconds);
        QVERIFY(seq >= 50);
        QVERIFY2(painted.frames <= seconds * 1000 / 33.3 + 2, "more than one frame per period");
        QVERIFY2(painted.frames >= 10, "changes were held back");
        // How soon is the benchmark's business: a busy machine delays the
        // frame; that the last state reaches the screen without another
        // event is the test's.
        QTRY_VERIFY_WITH_TIMEOUT(screenShowsTheWindow(*p.window), 2000);
        QCOMPARE(p.text("RecvLabel"), QString(" %1").arg(seq));

        // A lone send is shown without a reply to carry it.
        p.engine.sent();
        QTRY_VERIFY_WITH_TIMEOUT(screenShowsTheWindow(*p.window), 2000);
    }

    // A reply repaints, in one paint pass of the window, the band's newest
    // column and of the labels whose text changed the part from the changed
    // digit on, and nothing else: the rest of the band moves on the screen
    // as it stands, and no control paints on its own.
    void aFramePaintsWhatChangedOnce()
    {
        WindowProbe p("h");
        p.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(p.window.get()));
        p.engine.sent();
        p.engine.reply(1, 20);
        // Its frame is on the screen before the counting starts.
        QTRY_VERIFY_WITH_TIMEOUT(p.text("RecvLabel") == " 1" && screenShowsTheWindow(*p.window),
                                 2000);
        std::map<QString, PaintedRegions> paints;
        for (QWidget *w : p.window->findChildren<QWidget *>())
            w->installEventFilter(&paints[w->objectName()]);
        PaintedRegions windowPaints;
        p.window->installEventFilter(&windowPaints);

        p.engine.sent(); // the sent and received counts change; the times and losses do not
        p.engine.reply(2, 20);
        QTRY_COMPARE_WITH_TIMEOUT(windowPaints.paints, 1, 2000);
        QTest::qWait(100);
        QCOMPARE(windowPaints.paints, 1);
        const QRect column(lagScale.bandLeft() + LagHistory::count - 1, lagScale.graphTop, 1,
                           p.window->height() - lagScale.graphTop);
        QRegion allowed = column;
        for (const char *changed : {"SendLabel", "RecvLabel"}) {
            // " 1" to " 2": the leading space stays, and with it a pixel or two.
            const QRect label = p.control(changed)->geometry();
            const QRect digit = windowPaints.painted.intersected(label).boundingRect();
            QVERIFY2(digit.right() == label.right() && digit.left() > label.left() &&
                         digit.left() < label.left() + 6,
                     qPrintable(QString("%1 repainted from x %2").arg(changed).arg(digit.left())));
            allowed += label;
        }
        QCOMPARE(windowPaints.painted.intersected(column), QRegion(column));
        QCOMPARE(windowPaints.painted.subtracted(allowed), QRegion());
        for (const auto &[name, control] : paints)
            QVERIFY2(control.paints == 0, qPrintable(name));
        QCOMPARE(p.text("RecvLabel"), " 2");
        QVERIFY(screenShowsTheWindow(*p.window));
    }

    // The blinking cursor repaints its own rectangle (the caret and the five
    // pixels either side that Qt keeps for overhanging glyphs), not the box
    // or the window.
    void theCursorBlinksInItsOwnRectangle()
    {
        WindowProbe p("");
        p.window->show();
        p.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(p.window.get()));
        QLineEdit *box = p.hostBox();
        box->setText("localhost");
        box->setCursorPosition(4);
        PaintedRegions boxPaints, windowPaints;
        QTest::qWait(100);
        box->installEventFilter(&boxPaints);
        p.window->installEventFilter(&windowPaints);
        QTest::qWait(2 * QGuiApplication::styleHints()->cursorFlashTime());
        QVERIFY(!boxPaints.painted.isEmpty());
        const QRect cursor = boxPaints.painted.boundingRect();
        qInfo() << "blink repainted" << cursor << "of the box's" << box->rect();
        QVERIFY(cursor.width() <= 11);
        QVERIFY(cursor.height() < box->height());
        QCOMPARE(windowPaints.painted.boundingRect(), cursor.translated(box->pos()));
    }
};

QTEST_MAIN(TestFrames)
#include "test_frames.moc"
