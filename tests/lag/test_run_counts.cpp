#include "RunCounts.h"

#include <QTest>

namespace {
// A run of `sent` requests and `received` replies, the requests first.
RunCounts run(int sent, int received, RunCounts counts = {})
{
    counts.start();
    for (int i = 0; i < sent; ++i)
        counts.requestSent();
    for (int i = 0; i < received; ++i)
        counts.replied();
    return counts;
}
} // namespace

class TestRunCounts : public QObject {
    Q_OBJECT

  private slots:
    void totalLossOfTheWorkedExamples()
    {
        QCOMPARE(run(3, 2).totalLossPercent(), 33);
        // 100 - 21 / 0.56 in this order is just above 62.5.
        QCOMPARE(run(56, 21).totalLossPercent(), 63);
        QCOMPARE(run(2, 0).totalLossPercent(), 0); // nothing came to work it out at
    }

    // Late replies after a restart: more received than sent reads 0 %.
    void moreRepliesThanRequestsReadNoLoss() { QCOMPARE(run(4, 5).totalLossPercent(), 0); }

    void noLossIsWorkedOutWhileOneRequestIsShown()
    {
        RunCounts counts = run(10, 5);
        QCOMPARE(counts.totalLossPercent(), 50);
        counts.start();
        counts.requestSent();
        counts.replied();
        QCOMPARE(counts.shownSent(), 1.0);
        QCOMPARE(counts.totalLossPercent(), 50); // as it was
    }

    // A Start leaves the last run's sent count shown until the first request:
    // what comes before it is weighed against that count.
    void theSentCountShownLagsUntilTheFirstRequest()
    {
        RunCounts counts = run(10, 10);
        counts.start();
        QCOMPARE(counts.sent(), 0.0);
        QCOMPARE(counts.shownSent(), 10.0);
        QCOMPARE(counts.shownReceived(), 10.0);
        counts.lost(); // a loss shows this run's received count, 0
        QCOMPARE(counts.shownReceived(), 0.0);
        QCOMPARE(counts.received(), 0.0);
        QCOMPARE(counts.totalLossPercent(), 100);
        counts.replied();
        QCOMPARE(counts.totalLossPercent(), 90);
        counts.requestSent();
        QCOMPARE(counts.shownSent(), 1.0);
    }
};

QTEST_MAIN(TestRunCounts)
#include "test_run_counts.moc"
