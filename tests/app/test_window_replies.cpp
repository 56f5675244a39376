#include "WindowProbe.h"

#include <QTest>

namespace {
constexpr int newest = LagHistory::count;
constexpr int16_t loss = LagHistory::lossMarker;
constexpr int16_t empty = LagHistory::emptyMarker;
constexpr int16_t longest = LagHistory::clampedTime;

// The labels a reply rewrites, in reading order.
QStringList labels(const WindowProbe &p)
{
    QStringList texts;
    for (const char *name : {"SendLabel", "RecvLabel", "LossLabel", "avping", "cping", "wndLoss"})
        texts << p.text(name);
    return texts;
}

int16_t slot(const WindowProbe &p, int i)
{
    return p.window->lagHistory().slot(i);
}

void restart(WindowProbe &p)
{
    p.window->Command1_Click();
    p.window->Command1_Click();
}
} // namespace

class TestWindowReplies : public QObject {
    Q_OBJECT

  private slots:
    void firstReplyAfterStartUp()
    {
        WindowProbe p("h");
        p.engine.sent();
        QCOMPARE(labels(p), (QStringList{" 1", "0", "0 %", "", "", ""}));
        p.engine.reply(1, 20);
        // One request sent: the total loss keeps its text.
        QCOMPARE(labels(p), (QStringList{" 1", " 1", "0 %", "20 ms", "20 ms", "0 %"}));
        QCOMPARE(slot(p, newest), 20);
        QCOMPARE(slot(p, newest - 1), empty);

        // The total loss is computed from the second request on, not before.
        WindowProbe lost("h");
        lost.engine.sent();
        lost.engine.lose(1);
        QCOMPARE(lost.text("LossLabel"), "0 %");
        lost.engine.sent();
        lost.engine.reply(2, 20);
        QCOMPARE(lost.text("LossLabel"), "50 %");
        QCOMPARE(p.window->lastSeq(), 1.0);
    }

    void totalLossFollowsTheShownCounts()
    {
        WindowProbe p("h");
        p.engine.sent(3);
        p.engine.reply(1, 10);
        p.engine.reply(2, 10);
        QCOMPARE(p.text("LossLabel"), "33 %");

        restart(p);
        p.engine.sent(56);
        for (int seq = 1; seq <= 21; ++seq)
            p.engine.reply(static_cast<qint16>(seq), 10);
        QCOMPARE(p.text("LossLabel"), "63 %");
        QCOMPARE(p.text("RecvLabel"), " 21");
        QCOMPARE(p.text("SendLabel"), " 56");

        // Late replies after a restart outnumber the requests: never below 0.
        restart(p);
        p.engine.sent(4);
        for (int seq = 30; seq < 35; ++seq)
            p.engine.reply(static_cast<qint16>(seq), 10);
        QCOMPARE(p.text("LossLabel"), "0 %");
    }

    void firstReplyAfterRestartUsesTheEarlierRunsSentLabel()
    {
        WindowProbe p("h");
        p.engine.sent(5);
        p.engine.reply(1, 10);
        restart(p);
        QCOMPARE(p.text("SendLabel"), " 5");
        p.engine.reply(2, 10);
        // 1 received against the 5 still shown.
        QCOMPARE(p.text("LossLabel"), "80 %");
        QCOMPARE(p.text("RecvLabel"), " 1");
        p.engine.sent();
        QCOMPARE(p.text("SendLabel"), " 1");
    }

    void gapsBecomeLossSamples()
    {
        WindowProbe p("h");
        p.engine.reply(10, 5);
        restart(p);
        QCOMPARE(p.window->lastSeq(), 10.0);
        p.engine.reply(14, 30);
        QCOMPARE(slot(p, newest - 4), empty);
        for (int i = newest - 3; i < newest; ++i)
            QCOMPARE(slot(p, i), loss);
        QCOMPARE(slot(p, newest), 30);
        QCOMPARE(p.text("wndLoss"), "75 %");
        QCOMPARE(p.text("avping"), "30 ms");

        // The expected one, a repeat, an earlier one and a wrap add none.
        for (qint16 seq : {15, 15, 3})
            p.engine.reply(seq, 30);
        QCOMPARE(slot(p, newest - 7), empty);
        for (int i = newest - 6; i <= newest - 4; ++i)
            QCOMPARE(slot(p, i), loss);
        for (int i = newest - 3; i <= newest; ++i)
            QCOMPARE(slot(p, i), 30);
        QCOMPARE(p.window->lastSeq(), 3.0);

        p.engine.reply(32767, 30);
        restart(p);
        p.engine.reply(-32768, 30);
        QCOMPARE(slot(p, newest - 1), empty);
        QCOMPARE(p.window->lastSeq(), -32768.0);
    }

    void aGapWiderThanTheHistoryFillsIt()
    {
        WindowProbe p("h");
        p.engine.reply(-32768, 5);
        p.engine.reply(32767, 40);
        for (int i = 1; i < newest; ++i)
            QCOMPARE(slot(p, i), loss);
        QCOMPARE(slot(p, newest), 40);
        QCOMPARE(p.text("wndLoss"), "100 %"); // 375 of 376 samples: 99.7
        QCOMPARE(p.text("avping"), "40 ms");
    }

    void averageRoundsHalvesToEven()
    {
        WindowProbe p("h");
        p.engine.reply(1, 22);
        p.engine.reply(2, 23);
        QCOMPARE(p.text("avping"), "22 ms");
        restart(p);
        p.engine.reply(3, 23);
        p.engine.reply(4, 24);
        QCOMPARE(p.text("avping"), "24 ms");
    }

    void timesBeyondTheScale()
    {
        WindowProbe p("h");
        p.engine.reply(1, 1500);
        QCOMPARE(p.text("cping"), "1500 ms");
        QCOMPARE(slot(p, newest), longest);
        QCOMPARE(p.text("avping"), "999 ms");

        // A time equal to the loss marker is a loss in the window, not in
        // the total.
        p.engine.sent(2);
        p.engine.reply(2, loss);
        QCOMPARE(p.text("wndLoss"), "50 %");
        QCOMPARE(p.text("LossLabel"), "0 %");
        QCOMPARE(p.text("avping"), "999 ms");

        // Outside 16 bits: the label shows what came, the history a clamp.
        p.engine.reply(3, 100000);
        QCOMPARE(p.text("cping"), "100000 ms");
        QCOMPARE(slot(p, newest), longest);
        p.engine.reply(4, -100000);
        QCOMPARE(p.text("cping"), "-100000 ms");
        QCOMPARE(slot(p, newest), -32768);
    }

    void anEmptyWindowShowsNoLoss()
    {
        WindowProbe p("h");
        p.engine.reply(1, empty);
        QCOMPARE(p.text("wndLoss"), "0 %");
        QCOMPARE(p.text("avping"), "0 ms");
        QCOMPARE(p.text("cping"), "1001 ms");
    }

    void repliesAfterStopStillCount()
    {
        WindowProbe p("h");
        p.engine.sent(2);
        p.window->Command1_Click(); // Stop
        p.engine.reply(1, 100);
        p.engine.reply(2, 300);
        QCOMPARE(labels(p), (QStringList{" 2", " 2", "0 %", "200 ms", "300 ms", "0 %"}));
        QCOMPARE(slot(p, newest), 300);
        const QImage &drawing = p.window->drawing();
        QCOMPARE(drawing.pixel(384, 103), qRgb(0, 0xC0, 0));
    }

    void everyReplyRefreshesTheRestartFlag()
    {
        WindowProbe p("h");
        const std::pair<double, QString> cases[] = {{1000, "restart=false"},
                                                    {1001, "restart=true"},
                                                    {40000, "restart=true"},
                                                    {5, "restart=false"}};
        for (const auto &[lastSent, expected] : cases) {
            p.engine.lastSent = lastSent;
            p.takeWrites();
            p.engine.reply(1, 1);
            QCOMPARE(p.takeWrites(), QStringList{expected});
        }
    }

    // A request given up counts like a reply of the loss marker's time: the
    // received count and the current ping stay, a gap before it still fills,
    // and a reply after it opens no gap of its own.
    void lossesShowAsTheyHappen()
    {
        WindowProbe p("h");
        p.engine.sent();
        p.engine.reply(1, 20);
        p.engine.sent(3);
        p.engine.lastSent = 1001;
        p.takeWrites();
        p.engine.lose(2);
        QCOMPARE(p.takeWrites(), QStringList{"restart=true"});
        QCOMPARE(labels(p), (QStringList{" 4", " 1", "75 %", "20 ms", "20 ms", "50 %"}));
        QCOMPARE(slot(p, newest), loss);
        QCOMPARE(p.window->lastSeq(), 2.0);
        QCOMPARE(p.window->drawing().pixel(384, 64), qRgb(0xC0, 0, 0));

        p.engine.lose(4); // 3 was skipped: one more loss for it
        QCOMPARE(slot(p, newest - 2), loss);
        QCOMPARE(slot(p, newest - 1), loss);
        QCOMPARE(slot(p, newest), loss);
        QCOMPARE(p.text("wndLoss"), "75 %");
        p.engine.sent();
        p.engine.reply(5, 30);
        QCOMPARE(labels(p), (QStringList{" 5", " 2", "60 %", "25 ms", "30 ms", "60 %"}));
        QCOMPARE(slot(p, newest - 4), 20);

        // A host that never answers reads 100 % from its second loss on; the
        // received label shows this run's count, as a reply would.
        WindowProbe silent("h");
        for (qint16 seq = 1; seq <= 3; ++seq) {
            silent.engine.sent();
            silent.engine.lose(seq);
        }
        QCOMPARE(labels(silent), (QStringList{" 3", " 0", "100 %", "0 ms", "", "100 %"}));
    }

    void eachReplyScrollsTheGraph()
    {
        WindowProbe p("h");
        p.engine.reply(1, 500);
        QCOMPARE(p.window->drawing().pixel(384, 84), qRgb(0, 0xC0, 0));
        p.engine.reply(3, 500);
        const QImage &drawing = p.window->drawing();
        QCOMPARE(drawing.pixel(382, 84), qRgb(0, 0xC0, 0));
        QCOMPARE(drawing.pixel(383, 64), qRgb(0xC0, 0, 0));
        QCOMPARE(drawing.pixel(384, 84), qRgb(0, 0xC0, 0));
        QCOMPARE(drawing.pixel(384, 83), p.window->palette().color(QPalette::Window).rgb());
    }
};

QTEST_MAIN(TestWindowReplies)
#include "test_window_replies.moc"
