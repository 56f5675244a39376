#include "LagHistory.h"
#include "ReplyStats.h"

#include <QTest>

#include <vector>

namespace {
constexpr int count = 376;

std::vector<int16_t> slotValues(const LagHistory &h)
{
    std::vector<int16_t> v;
    for (int i = 1; i <= count; ++i)
        v.push_back(h.slot(i));
    return v;
}

LagHistory historyOf(std::initializer_list<int16_t> samples)
{
    LagHistory h;
    h.reset(count);
    for (int16_t s : samples)
        h.push(s, count);
    return h;
}
} // namespace

class TestLagHistory : public QObject {
    Q_OBJECT

  private slots:
    void resetEmptiesEverySlotInUse()
    {
        LagHistory h = historyOf({5, 6, 7});
        h.reset(count);
        for (int i = 1; i <= count; ++i)
            QCOMPARE(h.slot(i), LagHistory::emptyMarker);
    }

    void pushAppendsNewestAndDropsOldest()
    {
        LagHistory h = historyOf({20});
        for (int i = 1; i < count; ++i)
            QCOMPARE(h.slot(i), 1001);
        QCOMPARE(h.slot(count), 20);

        for (int i = 0; i < count; ++i)
            h.push(static_cast<int16_t>(i), count);
        QCOMPARE(h.slot(1), 0);
        QCOMPARE(h.slot(count), count - 1);
        h.push(-3, count);
        QCOMPARE(h.slot(1), 1);
        QCOMPARE(h.slot(count), -3);
        // Slots past the ones in use are never touched.
        QCOMPARE(h.slot(count + 1), 0);
    }

    void clampComparesWithTheEmptyMarker()
    {
        const std::pair<int16_t, int16_t> cases[] = {{999, 999},  {1000, 1000}, {1001, 1001},
                                                     {1002, 999}, {32767, 999}, {-32768, -32768}};
        for (auto [pushed, stored] : cases) {
            LagHistory h = historyOf({pushed});
            QCOMPARE(h.slot(count), stored);
        }
    }

    void repeatedPushEqualsSinglePushes()
    {
        for (int times : {0, 1, 2, 5, 375, 376, 377, 1000, 32767}) {
            LagHistory once = historyOf({1, 2, 3, 1000, 1500, 7});
            LagHistory many = once;
            for (int t = 0; t < std::min(times, 2 * count); ++t)
                once.push(1000, count);
            many.pushRepeated(1000, times, count);
            QVERIFY2(slotValues(once) == slotValues(many), qPrintable(QString::number(times)));
        }
        LagHistory clamped = historyOf({});
        clamped.pushRepeated(5000, 3, count);
        QCOMPARE(clamped.slot(count - 2), 999);
        QCOMPARE(clamped.slot(count - 3), 1001);
    }

    void windowStatsAverageAndLoss()
    {
        // Exact halves of the average go to the even neighbour.
        QCOMPARE(windowStats(historyOf({22, 23}), count).average, 22);
        QCOMPARE(windowStats(historyOf({23, 24}), count).average, 24);
        // Losses and empty slots stay out of the average.
        WindowStats s = windowStats(historyOf({1000, 1000, 1000, 30}), count);
        QCOMPARE(s.average, 30);
        QCOMPARE(s.lossPercent, 75);

        // 21 losses among 56 samples: 21 / 0.56 is just below 37.5.
        LagHistory h = historyOf({});
        h.pushRepeated(1000, 21, count);
        h.pushRepeated(10, 35, count);
        QCOMPARE(windowStats(h, count).lossPercent, 37);

        // Nothing counted: no division by zero.
        s = windowStats(historyOf({}), count);
        QCOMPARE(s.average, 0);
        QCOMPARE(s.lossPercent, 0);

        // Negative samples count as times; a zero sum keeps the average 0.
        QCOMPARE(windowStats(historyOf({-5, 5}), count).average, 0);
        QCOMPARE(windowStats(historyOf({-32768, -32768}), count).average, -32768);
    }

    void totalLossFromTheShownCounts()
    {
        QCOMPARE(totalLossPercent(56, 21), 63);
        QCOMPARE(totalLossPercent(3, 2), 33);
        QCOMPARE(totalLossPercent(2, 2), 0);
        QCOMPARE(totalLossPercent(4, 5), 0);
        QCOMPARE(totalLossPercent(1e300, 1), 100);
    }

    void missedRepliesCountsGapsOnly()
    {
        QCOMPARE(missedReplies(1, 0, count), 0);
        QCOMPARE(missedReplies(14, 10, count), 3);
        QCOMPARE(missedReplies(10, 10, count), 0);
        QCOMPARE(missedReplies(3, 10, count), 0);
        QCOMPARE(missedReplies(-32768, 32767, count), 0);
        QCOMPARE(missedReplies(32767, -32768, count), count);
        QCOMPARE(missedReplies(400, 0, count), count);
        QCOMPARE(missedReplies(377, 0, count), count);
        QCOMPARE(missedReplies(376, 0, count), 375);
    }
};

QTEST_APPLESS_MAIN(TestLagHistory)
#include "test_lag_history.moc"
