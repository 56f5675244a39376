#include "LagHistory.h"
#include "ReplyStats.h"

#include <QTest>

#include <vector>

namespace {
constexpr int count = LagHistory::count;
constexpr int16_t loss = LagHistory::lossMarker;
constexpr int16_t empty = LagHistory::emptyMarker;
constexpr int16_t longest = LagHistory::clampedTime;

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
    h.reset();
    for (int16_t s : samples)
        h.push(s);
    return h;
}
} // namespace

class TestLagHistory : public QObject {
    Q_OBJECT

  private slots:
    void resetEmptiesEverySlotInUse()
    {
        LagHistory h = historyOf({5, 6, 7});
        h.reset();
        for (int i = 1; i <= count; ++i)
            QCOMPARE(h.slot(i), LagHistory::emptyMarker);
    }

    void pushAppendsNewestAndDropsOldest()
    {
        LagHistory h = historyOf({20});
        for (int i = 1; i < count; ++i)
            QCOMPARE(h.slot(i), empty);
        QCOMPARE(h.slot(count), 20);

        for (int i = 0; i < count; ++i)
            h.push(static_cast<int16_t>(i));
        QCOMPARE(h.slot(1), 0);
        QCOMPARE(h.slot(count), count - 1);
        h.push(-3);
        QCOMPARE(h.slot(1), 1);
        QCOMPARE(h.slot(count), -3);
        // Slots past the ones in use are never touched.
        QCOMPARE(h.slot(count + 1), 0);
    }

    void clampComparesWithTheEmptyMarker()
    {
        const std::pair<int16_t, int16_t> cases[] = {{longest, longest}, {loss, loss},
                                                     {empty, empty},     {empty + 1, longest},
                                                     {32767, longest},   {-32768, -32768}};
        for (auto [pushed, stored] : cases) {
            LagHistory h = historyOf({pushed});
            QCOMPARE(h.slot(count), stored);
        }
    }

    void repeatedPushEqualsSinglePushes()
    {
        for (int times : {0, 1, 2, 5, count - 1, count, count + 1, 3 * count, 32767}) {
            LagHistory once = historyOf({1, 2, 3, loss, 1500, 7});
            LagHistory many = once;
            for (int t = 0; t < std::min(times, 2 * count); ++t)
                once.push(loss);
            many.pushRepeated(loss, times);
            QVERIFY2(slotValues(once) == slotValues(many), qPrintable(QString::number(times)));
        }
        LagHistory clamped = historyOf({});
        clamped.pushRepeated(5000, 3);
        QCOMPARE(clamped.slot(count - 2), longest);
        QCOMPARE(clamped.slot(count - 3), empty);
    }

    void windowStatsAverageAndLoss()
    {
        // Exact halves of the average go to the even neighbour.
        QCOMPARE(windowStats(historyOf({22, 23})).average, 22);
        QCOMPARE(windowStats(historyOf({23, 24})).average, 24);
        // Losses and empty slots stay out of the average.
        WindowStats s = windowStats(historyOf({loss, loss, loss, 30}));
        QCOMPARE(s.average, 30);
        QCOMPARE(s.lossPercent, 75);

        // 21 losses among 56 samples: 21 / 0.56 is just below 37.5.
        LagHistory h = historyOf({});
        h.pushRepeated(loss, 21);
        h.pushRepeated(10, 35);
        QCOMPARE(windowStats(h).lossPercent, 37);

        // Nothing counted: no division by zero.
        s = windowStats(historyOf({}));
        QCOMPARE(s.average, 0);
        QCOMPARE(s.lossPercent, 0);

        // Negative samples count as times; a zero sum keeps the average 0.
        QCOMPARE(windowStats(historyOf({-5, 5})).average, 0);
        QCOMPARE(windowStats(historyOf({-32768, -32768})).average, -32768);
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
        QCOMPARE(missedReplies(1, 0), 0);
        QCOMPARE(missedReplies(14, 10), 3);
        QCOMPARE(missedReplies(10, 10), 0);
        QCOMPARE(missedReplies(3, 10), 0);
        QCOMPARE(missedReplies(-32768, 32767), 0);
        QCOMPARE(missedReplies(32767, -32768), count);
        QCOMPARE(missedReplies(count + 24, 0), count);
        QCOMPARE(missedReplies(count + 1, 0), count);
        QCOMPARE(missedReplies(count, 0), count - 1);
    }
};

QTEST_APPLESS_MAIN(TestLagHistory)
#include "test_lag_history.moc"
