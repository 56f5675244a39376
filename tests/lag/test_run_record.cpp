#include "RunRecord.h"

#include <QTest>

#include <random>

using namespace std::chrono_literals;

namespace {
using Clock = RunRecord::Clock;
using Wall = RunRecord::Wall;
const Clock::time_point t0{};
const Wall::time_point w0 = Wall::time_point{} + 1'800'000'000s;

// The sums and rows of a record.
struct Summed {
    RunRecord::Totals totals;
    int minutes = 0;
    int seconds = 0;
    QList<int> medians;
};
Summed sum(const RunRecord &record)
{
    Summed s;
    record.forEachRow([&](const RunRecord::Row &row) {
        s.totals.add(row.totals);
        ++(row.length == 60s ? s.minutes : s.seconds);
        s.medians << row.roundTrips.percentile(0.5).value_or(-1);
    });
    return s;
}
} // namespace

class TestRunRecord : public QObject {
    Q_OBJECT

  private slots:
    // Exact to the millisecond below 100 ms; packed, a second of a hundred
    // round trips as varied as can be stays small.
    void histogramsAreExactBelowOneHundredAndSmall()
    {
        RoundTripHistogram h;
        for (int ms = 0; ms < 100; ++ms)
            h.add(ms);
        QCOMPARE(h.percentile(0.5), 49);
        QCOMPARE(h.percentile(0.95), 94);
        QCOMPARE(h.percentile(1.0), 99);
        std::vector<uint8_t> packed;
        RoundTripHistogram spread;
        for (int i = 0; i < 100; ++i)
            spread.add(i * 800); // one bin each, up to the last
        spread.packInto(packed);
        qInfo("a second of 100 round trips in 100 bins packs into %zu bytes", packed.size());
        QVERIFY(packed.size() <= 64);
        RoundTripHistogram back;
        back.addPacked(packed, 0);
        QCOMPARE(back.count(), 100u);
        QCOMPARE(back.percentile(0.5), spread.percentile(0.5));
        // Above, within the 4 % of a bin.
        QVERIFY(std::abs(RoundTripHistogram::valueOf(RoundTripHistogram::binOf(1000)) - 1000) <=
                22);
    }

    // A day and more at 100 requests a second, round trips all over the
    // scale: under 8 MB, and every request in the rows.
    void aDayAtOneHundredRequestsASecondStaysUnderEightMegabytes()
    {
        RunRecord record;
        record.start(t0, w0);
        std::mt19937 random(3);
        const int requests = 100 * (24 * 3600 + 120);
        for (int i = 0; i < requests; ++i) {
            const Clock::time_point at = t0 + i * 10ms;
            record.requestSent(at);
            if (i % 50 == 7)
                record.lost(at, 10ms);
            else
                record.answered(at, w0 + i * 10ms, int32_t(random() % 2000));
        }
        qInfo("a day of 100 requests a second: %.2f MB", record.bytes() / 1e6);
        QVERIFY(record.bytes() <= 8'000'000);
        const Summed s = sum(record);
        QCOMPARE(60 * s.minutes + s.seconds, 24 * 3600 + 120);
        QCOMPARE(s.minutes, 2);
        QCOMPARE(s.totals.sent, uint32_t(requests));
        QCOMPARE(s.totals.lost, uint32_t(requests / 50));
        QCOMPARE(s.totals.answered + s.totals.lost, uint32_t(requests));
    }

    // After a day a second's row becomes part of its minute's, which keeps
    // its counts, its extremes and its round trips; an outage across that
    // boundary keeps its row.
    void secondsBecomeMinutesAndOutagesStay()
    {
        RunRecord record;
        record.start(t0, w0);
        Clock::time_point at = t0;
        for (int i = 0; i < 60; ++i, at += 1s) { // the first minute: 10 to 69 ms
            record.requestSent(at);
            record.answered(at, w0 + (at - t0), 10 + i);
        }
        for (int i = 0; i < 10; ++i, at += 1s) { // silent for 10 s
            record.requestSent(at);
            record.lost(at, 1s);
        }
        record.answered(at, w0 + (at - t0), 20);
        QCOMPARE(record.outages().size(), size_t(1));
        const RunRecord::Outage outage = record.outages().front();
        QCOMPARE(outage.from, w0 + 59s);
        QCOMPARE(outage.to, std::optional(w0 + 70s));
        QCOMPARE(outage.lost, 10);

        for (; at < t0 + 24h + 5min; at += 1s) {
            record.requestSent(at);
            record.answered(at, w0 + (at - t0), 20);
        }
        record.lost(at, 1s);
        // The seconds of the last 1440 minutes, the open one too; the rest
        // in minutes.
        const Summed s = sum(record);
        QCOMPARE(s.minutes, 6);
        QCOMPARE(60 * s.minutes + s.seconds, 24 * 3600 + 5 * 60 + 1);
        QCOMPARE(s.medians.first(), 39); // the 30th of 10 to 69
        QCOMPARE(s.totals.lost, 11u);
        QCOMPARE(s.totals.sent, uint32_t(24 * 3600 + 5 * 60));
        bool firstMinute = true;
        record.forEachRow([&](const RunRecord::Row &row) {
            if (std::exchange(firstMinute, false)) {
                QCOMPARE(row.at, w0);
                QCOMPARE(row.totals.least, 10);
                QCOMPARE(row.totals.most, 69);
            }
        });
        QCOMPARE(record.outages().size(), size_t(1));
        QCOMPARE(record.outages().front().lost, 10);
        QCOMPARE(record.meanMs().has_value(), true);
        QCOMPARE(record.ended(), w0 + 24h + 5min + 1s);
    }
};

QTEST_MAIN(TestRunRecord)
#include "test_run_record.moc"
