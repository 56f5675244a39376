#include "EchoData.h"
#include "IpAddress.h"
#include "Outstanding.h"
#include "Patience.h"
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
    return {.seq = seq,
            .place = seq,
            .token = 1000u + seq,
            .payloadSize = size,
            .deadline = at(deadlineMs * ms)};
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

    void overdueRequestsAreGivenUpOldestFirst()
    {
        Outstanding table;
        for (uint16_t seq : {5, 3, 9, 4})
            table.add(request(seq, int64_t{seq} * 10));
        const auto patience = 1000 * ms; // longer than any deadline here
        QCOMPARE(*table.nextDue(patience), at(30 * ms));
        const auto overdue = table.takeOverdue(at(50 * ms), patience);
        QCOMPARE(overdue.size(), size_t(3));
        QCOMPARE(overdue[0].seq, 3);
        QCOMPARE(overdue[2].seq, 5);
        QCOMPARE(*table.nextDue(patience), at(90 * ms));
        QVERIFY(table.take(9));
        QVERIFY(!table.nextDue(patience));
    }

    // Once a later request is answered, an earlier one waits only as long as
    // the patience; those sent after the answered one keep their deadline.
    void overtakenRequestsWaitOnlyThePatience()
    {
        Outstanding table;
        for (uint16_t seq = 1; seq <= 4; ++seq) {
            PendingRequest r = request(seq, 2000 + seq * 100);
            r.place = seq;
            r.sentAt = at(seq * 100 * ms);
            table.add(r);
        }
        const auto patience = 250 * ms;
        QCOMPARE(*table.nextDue(patience), at(2100 * ms));
        table.overtaken(3);
        table.overtaken(2); // an older answer moves nothing back
        QCOMPARE(*table.nextDue(patience), at(350 * ms));
        QVERIFY(table.takeOverdue(at(349 * ms), patience).empty());
        auto lost = table.takeOverdue(at(450 * ms), patience);
        QCOMPARE(lost.size(), size_t(2));
        QCOMPARE(lost[0].seq, 1);
        QCOMPARE(lost[1].seq, 2);
        QCOMPARE(*table.nextDue(patience), at(2300 * ms)); // 3 and 4 are not overtaken
    }

    // A reply after the verdict is recognised once, with the data it must
    // echo; the table of given-up requests stays bounded.
    void lateRepliesAreRecognisedOnce()
    {
        Outstanding table;
        const PendingRequest r = request(7, 10);
        table.add(r);
        QCOMPARE(table.takeOverdue(at(10 * ms), 1000 * ms).size(), size_t(1));
        const auto payload = icmp::payloadFor(r.token, r.payloadSize);
        QVERIFY(!table.takeAnswered(r.seq, payload));
        QVERIFY(!table.takeLate(r.seq, icmp::payloadFor(r.token + 1, r.payloadSize)));
        QVERIFY(table.takeLate(r.seq, payload));
        QVERIFY(!table.takeLate(r.seq, payload));

        // A displaced request is given up too.
        table.add(request(8, 10));
        table.add(request(8, 20));
        QVERIFY(table.takeLate(8, icmp::payloadFor(1008, 16)));

        for (int i = 0; i <= int(Outstanding::givenUpKept); ++i) {
            table.add(request(uint16_t(i), 0));
            table.takeOverdue(at(20 * ms), 1000 * ms);
        }
        QVERIFY(!table.takeLate(0, icmp::payloadFor(1000, 16)));
        QVERIFY(table.takeLate(1, icmp::payloadFor(1001, 16)));
    }

    void patienceFollowsThePath()
    {
        const auto timeout = 2000 * ms;
        Patience clean;
        QCOMPARE(clean.current(timeout), timeout); // nothing known
        clean.sample(20 * ms);
        QCOMPARE(clean.current(timeout), 160 * ms); // generous while little is known
        for (size_t i = 2; i < Patience::learnAfter; ++i)
            clean.sample(ms / 20);
        QCOMPARE(clean.current(timeout), 160 * ms);
        clean.sample(ms / 20); // enough known: 1.5 times 20 ms is below the floor
        QCOMPARE(clean.current(timeout), Patience::floor);

        // Under jitter it covers the slowest recent round trip with room to
        // spare; one very slow reply widens it at once.
        Patience jittery;
        auto slowest = 0 * ms;
        for (int i = 0; i < 200; ++i) {
            const auto roundTrip = (50 + (i * 37) % 301) * ms;
            jittery.sample(roundTrip);
            if (i >= 200 - int(Patience::recentCount))
                slowest = std::max(slowest, roundTrip);
        }
        QVERIFY(jittery.current(timeout) >= slowest * 3 / 2);
        QVERIFY(jittery.current(timeout) < timeout);
        jittery.sample(5000 * ms);
        QCOMPARE(jittery.current(timeout), timeout);

        // 64 steady round trips later the slow one is forgotten.
        for (size_t i = 0; i < Patience::recentCount * 2; ++i)
            jittery.sample(20 * ms);
        QCOMPARE(jittery.current(timeout), Patience::floor);
        jittery.reset();
        QCOMPARE(jittery.current(timeout), timeout);
    }

    // Every request leaves once, in request order, answered or lost.
    void requestsLeaveInRequestOrder()
    {
        ReplyOrder order;
        QStringList handedOver;
        const auto drain = [&] {
            while (const auto outcome = order.next())
                handedOver << QString::number(outcome->seq) + (outcome->answered ? "" : "x");
        };
        auto answer = [&](uint64_t place) {
            order.answered(place, 64, 1);
            drain();
        };
        const uint64_t first = order.sent(1);
        answer(first);
        QCOMPARE(handedOver, QStringList{"1"}); // in order: no wait at all

        // 3 and 4 overtake 2, which is then lost: they wait for its verdict.
        const uint64_t two = order.sent(2);
        const uint64_t three = order.sent(3);
        const uint64_t four = order.sent(4);
        answer(four);
        answer(three);
        QCOMPARE(handedOver, QStringList{"1"});
        QCOMPARE(order.held(), size_t(3));
        order.lost(two);
        drain();
        QCOMPARE(handedOver, (QStringList{"1", "2x", "3", "4"}));

        // Across a restart of the numbering: a late answer to 1005 still
        // comes before the 1 sent after it; an answer after its verdict, a
        // second verdict and a place long gone are ignored.
        const uint64_t old = order.sent(1005);
        const uint64_t renumbered = order.sent(1);
        answer(renumbered);
        answer(old);
        answer(old);
        order.lost(old);
        answer(first);
        QCOMPARE(handedOver, (QStringList{"1", "2x", "3", "4", "1005", "1"}));
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

    // As RFC 5952 writes them: the longest run of zero groups (the first of
    // equals, two at least) shortened, lower case, no leading zeros.
    void addressesAsText()
    {
        const auto v6 = [](std::array<uint16_t, 8> groups, uint32_t scope = 0) {
            IpAddress a{.family = icmp::Family::V6, .bytes = {}, .scopeId = scope};
            for (size_t i = 0; i < 8; ++i) {
                a.bytes[2 * i] = uint8_t(groups[i] >> 8);
                a.bytes[2 * i + 1] = uint8_t(groups[i]);
            }
            return addressText(a);
        };
        QCOMPARE(addressText({.family = icmp::Family::V4, .bytes = {192, 0, 2, 10}, .scopeId = 0}),
                 "192.0.2.10");
        QCOMPARE(v6({0, 0, 0, 0, 0, 0, 0, 1}), "::1");
        QCOMPARE(v6({0xfe80, 0, 0, 0, 0, 0, 0, 1}, 3), "fe80::1%3");
        QCOMPARE(v6({0x2001, 0xdb8, 0, 1, 1, 1, 1, 1}), "2001:db8:0:1:1:1:1:1");
        QCOMPARE(v6({0x2001, 0, 0, 1, 0, 0, 0, 1}), "2001:0:0:1::1");
        QCOMPARE(v6({0x2001, 0xdb8, 0, 0, 1, 0, 0, 1}), "2001:db8::1:0:0:1");
        QCOMPARE(v6({1, 0, 0, 0, 0, 0, 0, 0}), "1::");
        QCOMPARE(v6({0x2001, 0xDB8, 0xABCD, 0x12, 0, 0, 0, 0}), "2001:db8:abcd:12::");
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
    }
};

QTEST_APPLESS_MAIN(TestEngineParts)
#include "test_engine_parts.moc"
