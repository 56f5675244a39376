// The rules that judge a line that still answers: slow, losing, and how
// much its round trips vary.
#include "LossWatch.h"
#include "ReplyStats.h"
#include "SlowWatch.h"

#include <QTest>

using namespace std::chrono_literals;

namespace {
using Clock = SlowWatch::Clock;
const Clock::time_point t0{};

// Replies of `ms` every `interval` from `from` for `during`; the verdicts they bring.
QList<SlowWatch::Verdict> replies(SlowWatch &watch, Clock::time_point &at, Clock::duration during,
                                  int ms, Clock::duration interval = 100ms)
{
    QList<SlowWatch::Verdict> verdicts;
    for (const auto end = at + during; at < end; at += interval)
        if (const auto v = watch.answered(at, ms))
            verdicts << *v;
    return verdicts;
}

// The usual round trip set by 10 s of `usual`, then `later` for 10 s: the verdicts.
QList<SlowWatch::Verdict> usualThen(int usual, int later)
{
    SlowWatch watch;
    Clock::time_point at = t0;
    replies(watch, at, 10100ms, usual);
    return replies(watch, at, 10s, later);
}

// Requests every 100 ms for 20 s, `lost` of every 200 lost (spread out),
// then one reply: its verdict.
std::optional<LossWatch::Verdict> share(LossWatch &watch, Clock::time_point &at, int lost)
{
    std::optional<LossWatch::Verdict> verdict;
    for (int i = 0; i < 200; ++i, at += 100ms) {
        if (i % 20 == 10 && i / 20 < lost)
            watch.lost(at);
        else if (const auto v = watch.answered(at))
            verdict = v;
    }
    return verdict;
}

LagHistory history(std::initializer_list<int16_t> newestLast)
{
    LagHistory h;
    h.reset();
    for (const int16_t v : newestLast)
        h.push(v);
    return h;
}
} // namespace

class TestLineRules : public QObject {
    Q_OBJECT

  private slots:
    // Above both three times the usual and the usual plus 50 ms.
    void slowIsAboveBothBounds()
    {
        QVERIFY(usualThen(20, 70).isEmpty()); // 20 + 50
        const auto slow = usualThen(20, 71);
        QCOMPARE(slow.size(), 1);
        QVERIFY(slow[0].slow);
        QCOMPARE(slow[0].medianMs, 71.0);
        QCOMPARE(slow[0].usualMs, 20.0);
        QVERIFY(usualThen(40, 120).isEmpty()); // 3 * 40
        QCOMPARE(usualThen(40, 121).size(), 1);
    }

    // Fast again below both twice the usual and the usual plus 25 ms: in
    // between, it stays as it was.
    void fastAgainIsBelowBothBounds()
    {
        for (const int back : {40, 39}) {
            SlowWatch watch;
            Clock::time_point at = t0;
            replies(watch, at, 10100ms, 20);
            QCOMPARE(replies(watch, at, 20s, 400).size(), 1);
            const auto again = replies(watch, at, 20s, back);
            QCOMPARE(again.size(), back == 40 ? 0 : 1);
            if (!again.isEmpty()) {
                QVERIFY(!again[0].slow);
                QVERIFY(again[0].slowFor > 20s && again[0].slowFor < 30s);
            }
        }
    }

    // A spike of a few replies does not move the median; nothing is judged
    // before 10 s of replies, nor with fewer than 10 replies in 10 s.
    void spikesEarlyRepliesAndSparseRepliesSayNothing()
    {
        SlowWatch watch;
        Clock::time_point at = t0;
        QVERIFY(replies(watch, at, 9900ms, 400).isEmpty());
        QVERIFY(replies(watch, at, 20s, 20).isEmpty());
        QVERIFY(replies(watch, at, 500ms, 600).isEmpty());
        QVERIFY(replies(watch, at, 10s, 20).isEmpty());

        // Ten replies 1111 ms apart fit in 10 s, at 1112 ms nine do.
        for (const auto interval : {1111ms, 1112ms}) {
            SlowWatch sparse;
            Clock::time_point t = t0;
            replies(sparse, t, 20s, 20, interval);
            QCOMPARE(replies(sparse, t, 30s, 400, interval).size(), interval == 1111ms ? 1 : 0);
        }
    }

    // The usual round trip is the lowest of the last 10 minutes: 85 ms is
    // slow for a host usually at 20 ms, not for one at 30 ms.
    void theUsualRoundTripIsRememberedForTenMinutes()
    {
        for (const auto meanwhile : {540s, 620s}) { // 9 min, and 10 min 20 s
            SlowWatch watch;
            Clock::time_point at = t0;
            replies(watch, at, 10100ms, 20);
            replies(watch, at, meanwhile, 30);
            QCOMPARE(replies(watch, at, 10s, 85).size(), meanwhile == 540s ? 1 : 0);
        }
        SlowWatch restarted;
        Clock::time_point at = t0;
        replies(restarted, at, 20s, 20);
        restarted.started();
        QVERIFY(replies(restarted, at, 9900ms, 400).isEmpty());
    }

    // 5 % of 200 requests lost is losing, 4.5 % is not; under 2 % it no
    // longer is, at 2 % it still is.
    void losingFromFivePercentUntilUnderTwo()
    {
        LossWatch watch;
        Clock::time_point at = t0;
        QVERIFY(!share(watch, at, 0));
        QVERIFY(!share(watch, at, 9));
        const auto losing = share(watch, at, 10);
        QVERIFY(losing && losing->losing);
        QCOMPARE(losing->sharePercent, 5.0);
        QVERIFY(!share(watch, at, 4));
        const auto clear = share(watch, at, 3);
        QVERIFY(clear && !clear->losing);
        // From the 10th loss to the reply that finds the 4th gone, at 20 s.
        QCOMPARE(clear->losingFor, 27900ms);
    }

    // At least 20 requests handed over in 20 s, and more than one lost.
    void fewRequestsAndALoneLossSayNothing()
    {
        // Twenty requests 1052 ms apart fit in 20 s, at 1053 ms nineteen do.
        for (const auto interval : {1052ms, 1053ms}) {
            LossWatch watch;
            Clock::time_point at = t0;
            std::optional<LossWatch::Verdict> verdict;
            for (int i = 0; i < 40; ++i, at += interval)
                if (i % 10 == 5)
                    watch.lost(at);
                else if (const auto v = watch.answered(at))
                    verdict = v;
            QCOMPARE(bool(verdict), interval == 1052ms); // 2 of 20: 10 %
        }
        LossWatch lone;
        Clock::time_point at = t0;
        std::optional<LossWatch::Verdict> verdict;
        for (int i = 0; i < 30; ++i, at += 1s)
            if (i == 10)
                lone.lost(at);
            else if (const auto v = lone.answered(at))
                verdict = v;
        QVERIFY(!verdict); // 1 of 20: 5 %
    }

    // An outage has its own notice: its losses, those in a row before it was
    // told and those after, are not counted.
    void anOutagesLossesAreNotCounted()
    {
        LossWatch watch;
        Clock::time_point at = t0;
        share(watch, at, 0);
        for (int i = 0; i < 3; ++i, at += 100ms)
            watch.lost(at);
        watch.silent();
        for (int i = 0; i < 30; ++i, at += 100ms)
            watch.lost(at);
        QVERIFY(!watch.answered(at));
    }

    void jitterAndPercentileOfWorkedExamples()
    {
        constexpr int16_t loss = LagHistory::lossMarker;
        // Pairs 10-20 and 30-35 (the loss is not bridged): 7.5 rounds to 8;
        // the 4th of 4 is the 95th percentile.
        auto s = spread(history({10, 20, loss, 30, 35}));
        QVERIFY(s);
        QCOMPARE(s->jitterMs, 8);
        QCOMPARE(s->p95Ms, 35);
        // Differences 2 and 3: 2.5 rounds to the even 2.
        QCOMPARE(spread(history({10, 12, 15}))->jitterMs, 2);
        LagHistory ramp;
        ramp.reset();
        for (int16_t ms = 1; ms <= 20; ++ms)
            ramp.push(ms);
        QCOMPARE(spread(ramp)->p95Ms, 19); // nearest rank 19 of 20
        QCOMPARE(spreadText(ramp), "Jitter: 1 ms, 95th percentile: 19 ms");
        QVERIFY(!spread(history({loss, loss})));
        QCOMPARE(spreadText(history({})), "");
        QCOMPARE(spread(history({7}))->jitterMs, 0);
    }
};

QTEST_MAIN(TestLineRules)
#include "test_line_rules.moc"
