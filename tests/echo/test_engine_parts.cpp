#include "EchoData.h"
#include "IpAddress.h"
#include "Outstanding.h"
#include "ReplyOrder.h"
#include "SendSchedule.h"
#include "SequenceCounter.h"

#include <QTest>

namespace {
constexpr std::chrono::nanoseconds ms = std::chrono::milliseconds(1);

// A time on the monotonic clock, counted from its origin.
MonotonicTime at(std::chrono::nanoseconds sinceOrigin)
{
    return MonotonicTime(sinceOrigin);
}

PendingRequest request(uint16_t seq, int64_t deadlineMs, size_t size = 16)
{
    return {.seq = seq, .token = 1000u + seq, .payloadSize = size, .deadline = at(deadlineMs * ms)};
}
} // namespace

class TestEngineParts : public QObject {
    Q_OBJECT

  private slots:
    void repliesTakeTheirRequestOnce()
    {
        Outstanding table;
        const PendingRequest r = request(7, 100);
        table.add(r);
        const auto payload = icmp::payloadFor(r.token, r.payloadSize);
        QVERIFY(table.takeAnswered(r.seq, payload));
        QVERIFY(!table.takeAnswered(r.seq, payload)); // duplicate
        QVERIFY(table.empty());
    }

    void repliesMustCarryTheRequestsData()
    {
        Outstanding table;
        const PendingRequest r = request(7, 100);
        table.add(r);
        auto payload = icmp::payloadFor(r.token, r.payloadSize);
        payload[12] ^= 0x40;
        QVERIFY(!table.takeAnswered(r.seq, payload));
        payload = icmp::payloadFor(r.token + 1, r.payloadSize); // someone else's
        QVERIFY(!table.takeAnswered(r.seq, payload));
        payload = icmp::payloadFor(r.token, r.payloadSize - 1); // truncated
        QVERIFY(!table.takeAnswered(r.seq, payload));
        PendingRequest other = r;
        other.seq = 8;
        QVERIFY(!table.takeAnswered(other.seq, icmp::payloadFor(r.token, r.payloadSize)));
        QCOMPARE(table.size(), size_t(1));
        QVERIFY(table.takeAnswered(r.seq, icmp::payloadFor(r.token, r.payloadSize)));
    }

    void expiryTakesOverdueRequestsOldestFirst()
    {
        Outstanding table;
        for (uint16_t seq : {5, 3, 9, 4})
            table.add(request(seq, int64_t{seq} * 10));
        QCOMPARE(*table.nextDeadline(), at(30 * ms));
        const auto expired = table.takeExpired(at(50 * ms));
        QCOMPARE(expired.size(), size_t(3));
        QCOMPARE(expired[0].seq, 3);
        QCOMPARE(expired[2].seq, 5);
        QCOMPARE(*table.nextDeadline(), at(90 * ms));
        QVERIFY(table.take(9));
        QVERIFY(!table.nextDeadline());
    }

    void aReusedSequenceDisplacesTheOldRequest()
    {
        Outstanding table;
        QVERIFY(!table.add(request(1, 10)));
        const auto displaced = table.add(request(1, 20));
        QVERIFY(displaced);
        QCOMPARE(displaced->deadline, at(10 * ms));
        QCOMPARE(table.size(), size_t(1));
    }

    void repliesLeaveInRequestOrder()
    {
        ReplyOrder order;
        QList<int> handedOver;
        const auto drain = [&] {
            while (const auto reply = order.next())
                handedOver << reply->seq;
        };
        auto answer = [&](uint64_t place, uint16_t seq) {
            order.answered(place, {.seq = seq, .hops = 64, .roundTripMs = 1});
            drain();
        };
        const uint64_t first = order.sent();
        answer(first, 1);
        QCOMPARE(handedOver, QList<int>{1}); // in order: no wait at all

        // 3 and 4 overtake 2, which is then lost: they wait for its verdict.
        const uint64_t two = order.sent();
        const uint64_t three = order.sent();
        const uint64_t four = order.sent();
        answer(four, 4);
        answer(three, 3);
        QCOMPARE(handedOver, QList<int>{1});
        QCOMPARE(order.held(), size_t(3));
        order.lost(two);
        drain();
        QCOMPARE(handedOver, (QList<int>{1, 3, 4}));

        // Across a restart of the numbering: a late answer to 1005 still
        // comes before the 1 sent after it, and its duplicate and an answer
        // after the verdict are ignored.
        const uint64_t old = order.sent();
        const uint64_t renumbered = order.sent();
        answer(renumbered, 1);
        answer(old, 1005);
        answer(old, 1005);
        order.lost(old);
        answer(first, 1);
        QCOMPARE(handedOver, (QList<int>{1, 3, 4, 1005, 1}));
        QCOMPARE(order.held(), size_t(0));
    }

    void addressesArePingableOrRefused()
    {
        IpAddress mapped{.family = icmp::Family::V6, .bytes = {}, .scopeId = 0};
        mapped.bytes[10] = mapped.bytes[11] = 0xFF;
        QVERIFY(!pingable(mapped)); // ::ffff:0.0.0.0
        mapped.bytes[12] = 127;
        mapped.bytes[15] = 1;
        const auto v4 = pingable(mapped);
        QVERIFY(v4);
        QCOMPARE(v4->family, icmp::Family::V4);
        QCOMPARE(v4->bytes, (std::array<uint8_t, 16>{127, 0, 0, 1}));
        QVERIFY(!pingable(IpAddress{.family = icmp::Family::V4, .bytes = {}, .scopeId = 0}));
        QVERIFY(!pingable(IpAddress{.family = icmp::Family::V6, .bytes = {}, .scopeId = 0}));
        IpAddress linkLocal{.family = icmp::Family::V6, .bytes = {0xFE, 0x80}, .scopeId = 3};
        linkLocal.bytes[15] = 2;
        QCOMPARE(pingable(linkLocal)->scopeId, 3u);
    }

    void deadlinesAreAbsolute()
    {
        SendSchedule s;
        s.start(at(0 * ms));
        QVERIFY(s.due(at(0 * ms)));
        // Each send comes a little late; the deadlines do not drift.
        MonotonicTime now;
        for (int i = 0; i < 1000; ++i) {
            now = *s.nextDue() + (i % 7) * ms / 10;
            s.sent(now, 10 * ms, false);
        }
        QCOMPARE(*s.nextDue(), at(10'000 * ms));
    }

    void aStallSendsOnceAndReanchors()
    {
        SendSchedule s;
        s.start(at(0 * ms));
        s.sent(at(0 * ms), 10 * ms, false);
        s.sent(at(500 * ms), 10 * ms, false); // woke 49 intervals late
        QCOMPARE(*s.nextDue(), at(510 * ms));
        QVERIFY(!s.due(at(505 * ms)));
    }

    void synchronousWaitsForTheAnswer()
    {
        SendSchedule s;
        s.start(at(0 * ms));
        s.sent(at(0 * ms), 10 * ms, true);
        QVERIFY(!s.nextDue());
        QVERIFY(!s.due(at(50 * ms)));
        s.settled(at(4 * ms)); // answered before the interval ran out
        QCOMPARE(*s.nextDue(), at(10 * ms));
        s.sent(at(10 * ms), 10 * ms, true);
        s.settled(at(80 * ms)); // answered late: send at once
        QCOMPARE(*s.nextDue(), at(80 * ms));
    }

    void aNewIntervalCountsFromTheLastRequest()
    {
        SendSchedule s;
        s.start(at(0 * ms));
        s.sent(at(0 * ms), 10'000 * ms, false);
        s.intervalChanged(100 * ms);
        QCOMPARE(*s.nextDue(), at(100 * ms));
        s.stop();
        QVERIFY(!s.nextDue());
    }

    void sequencesCountUpWrapAndRestart()
    {
        SequenceCounter counter;
        QCOMPARE(counter.take(false), 1);
        QCOMPARE(counter.take(false), 2);
        QCOMPARE(counter.take(true), 1);
        QCOMPARE(counter.take(false), 2);
        for (int seq = 3; seq < 65535; ++seq)
            counter.take(false);
        QCOMPARE(counter.take(false), 65535);
        QCOMPARE(counter.take(false), 0);
        QCOMPARE(counter.take(false), 1);
        // The window reads them as signed 16-bit numbers.
        QCOMPARE(static_cast<int16_t>(uint16_t(32768)), -32768);
        QCOMPARE(static_cast<int16_t>(uint16_t(65535)), -1);
    }
};

QTEST_APPLESS_MAIN(TestEngineParts)
#include "test_engine_parts.moc"
