#include "OutageWatch.h"

#include <QTest>

using namespace std::chrono_literals;

class TestOutageWatch : public QObject {
    Q_OBJECT

  private slots:
    // Silent means three losses in a row and 2 s or three intervals without
    // a reply, whichever is longer; told once, and its end once.
    void silenceNeedsTimeAndThreeLossesInARow()
    {
        const OutageWatch::Clock::time_point t0{};
        const OutageWatch::Wall::time_point w0{};
        OutageWatch watch;
        watch.started(t0, w0);
        QVERIFY(!watch.lost(t0 + 2100ms, 100ms)); // one loss, long after
        QVERIFY(!watch.lost(t0 + 2200ms, 100ms));
        QVERIFY(!watch.answered(t0 + 2300ms, w0 + 2300ms)); // never told: nothing to end
        QVERIFY(!watch.lost(t0 + 4296ms, 100ms));
        QVERIFY(!watch.lost(t0 + 4297ms, 100ms));
        QVERIFY(!watch.lost(t0 + 4298ms, 100ms)); // three in a row, 2 ms short of 2 s
        const auto went = watch.lost(t0 + 4400ms, 100ms);
        QVERIFY(went);
        QVERIFY(went->lastHeard == w0 + 2300ms);
        QVERIFY(!watch.lost(t0 + 4500ms, 100ms)); // once
        const auto back = watch.answered(t0 + 6300ms, w0 + 6300ms);
        QVERIFY(back);
        QVERIFY(back->silent == 4s);
        QCOMPARE(back->lost, 5);
        QVERIFY(!watch.answered(t0 + 6400ms, w0 + 6400ms));

        // At a 1 s interval, three intervals are longer than 2 s.
        watch.started(t0, w0);
        QVERIFY(!watch.lost(t0 + 2000ms, 1s));
        QVERIFY(!watch.lost(t0 + 2500ms, 1s));
        QVERIFY(!watch.lost(t0 + 2999ms, 1s));
        QVERIFY(watch.lost(t0 + 3000ms, 1s));
        // A new run starts afresh, from Start.
        watch.started(t0 + 10s, w0 + 10s);
        QVERIFY(!watch.silent());
        QVERIFY(!watch.answered(t0 + 11s, w0 + 11s));
    }
};

QTEST_MAIN(TestOutageWatch)
#include "test_outage_watch.moc"
