// The window on the real engine, over a channel the test scripts: what a
// user sees when a host dies between two runs, or sends are refused.
#include "FakeChannel.h"
#include "IcmpEngine.h"
#include "WindowProbe.h"

#include <QAccessible>
#include <QElapsedTimer>
#include <QTest>

#include <cerrno>

namespace {

constexpr int intervalMs = 10;
constexpr int timeoutMs = 200;

struct EngineWindow {
    FakeChannel *channel = new FakeChannel;
    IcmpEngine engine{onlyV4(channel)};
    frmPing window{engine, [] {}, {}};

    EngineWindow()
    {
        engine.setInterval(intervalMs);
        engine.setTimeout(timeoutMs);
        window.findChild<QLineEdit *>("HostName")->setText("127.0.0.1");
    }
    QString text(const char *name) const { return window.findChild<QLabel *>(name)->text(); }
};

// The screen readers' change events for one object, where the platform
// delivers them (the offscreen one does not).
QList<QAccessible::Event> heard;
QObject *listenedTo = nullptr;
void listen(QAccessibleEvent *event)
{
    if (event->object() == listenedTo)
        heard << event->type();
}

// Counts a widget's show and hide events.
struct ShowsAndHides : QObject {
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::Show || event->type() == QEvent::Hide;
        return false;
    }
};

// The pixels of the failure line's text (those of the text colour) and
// those that touch them: what a reader sees of it.
QList<QRgb> textAndSurroundings(const QImage &image, QRect area, QRgb textColour)
{
    QList<QRgb> seen;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            bool touches = false;
            for (int dy = -1; dy <= 1 && !touches; ++dy)
                for (int dx = -1; dx <= 1 && !touches; ++dx)
                    touches =
                        image.valid(x + dx, y + dy) && image.pixel(x + dx, y + dy) == textColour;
            if (touches)
                seen << image.pixel(x, y);
        }
    return seen;
}

bool near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
               std::abs(qBlue(a) - qBlue(b)) <=
           48;
}

} // namespace

class TestWindowOnEngine : public QObject {
    Q_OBJECT

  private slots:
    // A host that answered, then died: after Stop and Start the total loss
    // counts this run's replies, none, as soon as the first loss is known.
    void aRestartOntoASilentHostReadsAllLost()
    {
        EngineWindow w;
        w.channel->answerAtOnce = true;
        w.window.Command1_Click();
        QTRY_VERIFY_WITH_TIMEOUT(w.window.recvCount() >= 31, 5000);
        w.window.Command1_Click(); // Stop
        QTRY_COMPARE(w.engine.running(), false);
        QCOMPARE(w.text("LossLabel"), "0 %");

        w.channel->answerAtOnce = false;
        QString atFirstLoss;
        QElapsedTimer sinceStart;
        QObject::connect(&w.engine, &EchoEngine::requestLost, &w.window, [&] {
            if (atFirstLoss.isEmpty())
                atFirstLoss =
                    w.text("LossLabel") + " after " + QString::number(sinceStart.elapsed()) + " ms";
        });
        sinceStart.start();
        w.window.Command1_Click(); // Start, onto a host that no longer answers
        QTRY_VERIFY_WITH_TIMEOUT(!atFirstLoss.isEmpty(), 5000);
        qInfo("first loss after the restart: %s", qPrintable(atFirstLoss));
        QVERIFY2(atFirstLoss.startsWith("100 % after "), qPrintable(atFirstLoss));
        QCOMPARE(w.text("RecvLabel"), " 0");
        // The first request's timeout, an interval, and room for a busy machine.
        QVERIFY(sinceStart.elapsed() < timeoutMs + intervalMs + 1000);
    }

    // Refused sends: the line says why, the red bars under it stay in
    // sight, and screen readers hear the text once, not once per request.
    void refusedSendsShowTheirReasonBesideTheBars()
    {
        EngineWindow w;
        w.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w.window));
        auto *line = w.window.findChild<QLabel *>("failureLine");
        heard.clear();
        listenedTo = line;
        QAccessible::setActive(true);
        QAccessible::installUpdateHandler(listen);
        ShowsAndHides flips;
        line->installEventFilter(&flips);

        w.channel->refuseWith = ENETUNREACH;
        w.window.Command1_Click();
        QTRY_VERIFY_WITH_TIMEOUT(w.channel->refused >= 60, 5000);
        QTest::qWait(100); // a frame
        QAccessible::installUpdateHandler(nullptr);
        QCOMPARE(line->accessibleDescription(),
                 "Cannot send to 127.0.0.1: " +
                     QString::fromStdString(std::system_category().message(ENETUNREACH)));
        QVERIFY(line->isVisible());
        QCOMPARE(flips.count, 1);
        if (QAccessible::isActive())
            QCOMPARE(heard, QList<QAccessible::Event>{QAccessible::DescriptionChanged});

        // Each column that holds a loss shows red over most of its height.
        const QImage shown = w.window.grab().toImage();
        const qreal ratio = shown.devicePixelRatio();
        int columns = 0;
        for (int i = 1; i <= LagHistory::count; ++i) {
            if (w.window.lagHistory().slot(i) != LagHistory::lossMarker)
                continue;
            const int x = lagScale.graphLeft + i;
            int red = 0;
            for (int y = lagScale.graphTop; y < lagScale.graphTop + lagScale.graphHeight; ++y)
                red += shown.pixel(int(x * ratio), int(y * ratio)) == qRgb(0xC0, 0, 0);
            QVERIFY2(red >= lagScale.graphHeight / 2,
                     qPrintable(QString("column %1: %2 rows red").arg(x).arg(red)));
            ++columns;
        }
        QVERIFY(columns >= 60);

        // A send that goes through takes the line away.
        w.channel->refuseWith = 0;
        QTRY_VERIFY(!line->isVisible());
    }

    // The text reads the same on an empty band, on green bars and on red
    // ones: what touches its glyphs is the halo, whatever lies beneath.
    void theFailureLineReadsOnAnyBand()
    {
        QList<QRgb> onEmpty;
        for (const int sample : {int(LagHistory::emptyMarker), 990, int(LagHistory::lossMarker)}) {
            WindowProbe p("127.0.0.1");
            p.window->show();
            QVERIFY(QTest::qWaitForWindowExposed(p.window.get()));
            for (int seq = 1; seq <= LagHistory::count; ++seq)
                sample == LagHistory::lossMarker ? p.engine.lose(qint16(seq))
                                                 : p.engine.reply(qint16(seq), sample);
            p.engine.fail(EchoFailure::SendFailed, ENETUNREACH, 1);
            QTest::qWait(100); // a frame
            const QImage shown = p.window->grab().toImage();
            const qreal ratio = shown.devicePixelRatio();
            const QWidget *line = p.control("failureLine");
            const QRect area(line->geometry().topLeft() * ratio, line->size() * ratio);
            const QList<QRgb> seen = textAndSurroundings(
                shown, area, p.window->palette().color(QPalette::WindowText).rgb());
            if (onEmpty.isEmpty())
                onEmpty = seen;
            QCOMPARE(seen.size(), onEmpty.size());
            QVERIFY(seen.size() >= 200);
            int differ = 0;
            for (qsizetype i = 0; i < seen.size(); ++i)
                differ += !near(seen[i], onEmpty[i]);
            qInfo("samples of %d: %d of %lld pixels at the text differ from an empty band", sample,
                  differ, seen.size());
            QVERIFY(differ <= seen.size() / 50);
        }
    }
};

QTEST_MAIN(TestWindowOnEngine)
#include "test_window_on_engine.moc"
