// IcmpEngine's rules, on a channel the test scripts: the engine, its ready
// notifier and its deadline timer run as they do on sockets, without root
// and without a network. The namespace tests prove the sockets; these the
// rules.
#include "FakeChannel.h"
#include "IcmpEngine.h"

#include <QElapsedTimer>
#include <QTest>

#include <cerrno>
#include <thread>

namespace {

// An engine on a fake channel, and what it told, in order.
struct Rig {
    FakeChannel *v4 = new FakeChannel;
    FakeChannel *v6 = new FakeChannel;
    IcmpEngine engine{bothFamilies(v4, v6)};
    FakeChannel *channel; // the host's
    QStringList told;
    QList<qint64> toldAtMs; // since the rig was made
    QElapsedTimer clock;
    bool insideCall = false;
    int toldInsideCalls = 0;

    explicit Rig(double timeoutMs = 2000, const QString &host = "127.0.0.1")
        : channel(host.contains(':') ? v6 : v4)
    {
        engine.setInterval(10);
        engine.setTimeout(timeoutMs);
        engine.setHost(host);
        clock.start();
        const auto note = [this](const QString &what) {
            told << what;
            toldAtMs << clock.elapsed();
            toldInsideCalls += insideCall;
        };
        QObject::connect(&engine, &EchoEngine::requestSent, [note] { note("sent"); });
        QObject::connect(&engine, &EchoEngine::replyReceived,
                         [note](qint16 seq, int, qint32) { note(QString("reply %1").arg(seq)); });
        QObject::connect(&engine, &EchoEngine::requestLost,
                         [note](qint16 seq) { note(QString("lost %1").arg(seq)); });
        QObject::connect(&engine, &EchoEngine::requestFailed,
                         [note](int seq, EchoFailure reason, int) {
                             note(QString("failed %1 %2").arg(seq).arg(int(reason)));
                         });
    }
    // Sends `count` requests, then stops; the replies are the test's to give.
    bool sendThenStop(int count)
    {
        engine.setRunning(true);
        const bool sent = QTest::qWaitFor([&] { return int(channel->sent.size()) >= count; });
        engine.setRunning(false);
        return sent && int(channel->sent.size()) == count;
    }
    // When `what` was told, in ms since the rig was made; -1 if never.
    qint64 toldAt(const QString &what) const
    {
        const qsizetype i = told.indexOf(what);
        return i < 0 ? -1 : toldAtMs[i];
    }
    // What was handed over, replies and losses only.
    QStringList handedOver() const
    {
        QStringList h;
        for (const QString &t : told)
            if (t.startsWith("reply") || t.startsWith("lost"))
                h << t;
        return h;
    }
};

} // namespace

class TestEngineRules : public QObject {
    Q_OBJECT

  private slots:
    // Each request is handed over once, in request order, as answered or
    // lost; a reply that overtook an earlier request waits for it; requests
    // still out after Stop are resolved as usual; an ICMP error is a loss.
    void eachRequestOnceInOrder()
    {
        Rig r(300);
        QVERIFY(r.sendThenStop(6));
        QCOMPARE(r.told.count("sent"), 6);
        r.channel->reply(3);
        QTest::qWait(20);
        QCOMPARE(r.handedOver(), QStringList{});
        r.channel->reply(1);
        QTRY_COMPARE(r.handedOver(), QStringList{"reply 1"});
        r.channel->reply(2);
        QTRY_COMPARE(r.handedOver(), (QStringList{"reply 1", "reply 2", "reply 3"}));
        r.channel->icmpError(4, 3, 1);
        QTRY_COMPARE(r.handedOver().size(), 4);
        QVERIFY(r.told.contains(QString("failed 4 %1").arg(int(EchoFailure::IcmpError))));
        // 5 and 6 are never answered: lost at their timeout, in order, and
        // not much later (a busy machine may delay them, not by a timeout).
        QTRY_COMPARE(r.handedOver(),
                     (QStringList{"reply 1", "reply 2", "reply 3", "lost 4", "lost 5", "lost 6"}));
        const qint64 sixthSent = r.toldAtMs[r.told.lastIndexOf("sent")];
        const qint64 sixthLost = r.toldAt("lost 6") - sixthSent;
        qInfo("the last request lost %lld ms after its send (timeout 300 ms)",
              static_cast<long long>(sixthLost));
        QVERIFY(sixthLost >= 300 - 1 && sixthLost < 2 * 300);
        r.channel->reply(2); // a duplicate
        QTest::qWait(50);
        QCOMPARE(r.handedOver().size(), 6);
    }

    // An overtaken request is lost once older than the path's patience, long
    // before its timeout; a reply after that is dropped, and counted.
    void overtakenThenLateReplies()
    {
        Rig r(2000);
        r.channel->answerAtOnce = true;
        r.engine.setRunning(true);
        QTRY_VERIFY(r.handedOver().size() >= 20); // the patience learns the path
        const int first = int(r.channel->sent.size()) + 1;
        r.channel->unanswered = {uint16_t(first)};
        QTRY_VERIFY(int(r.channel->sent.size()) >= first + 3);
        QTRY_VERIFY_WITH_TIMEOUT(r.handedOver().contains(QString("lost %1").arg(first)), 1500);
        const double waitedMs = std::chrono::duration<double, std::milli>(
                                    MonotonicClock::now() - r.channel->find(uint16_t(first))->at)
                                    .count();
        qInfo("overtaken request lost %.0f ms after its send (patience %.0f ms, timeout 2000 ms)",
              waitedMs,
              std::chrono::duration<double, std::milli>(r.engine.currentPatience()).count());
        QVERIFY(waitedMs < 1000);
        r.engine.setRunning(false);
        QCOMPARE(r.engine.lateReplies(), uint64_t(0));
        r.channel->reply(uint16_t(first));
        QTRY_COMPARE(r.engine.lateReplies(), uint64_t(1));
        QVERIFY(!r.handedOver().contains(QString("reply %1").arg(first)));
        // Each request once, in order.
        QStringList seqs;
        for (const QString &t : r.handedOver())
            seqs << t.section(' ', 1);
        for (qsizetype i = 0; i < seqs.size(); ++i)
            QCOMPARE(seqs[i].toInt(), int(i + 1));
    }

    // A reply that came while the program was busy past its request's
    // timeout, before the timeout was seen, still counts, whichever
    // family's channel holds it.
    void aReplyThatWaitedOutABusySpellCounts_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("IPv4") << "127.0.0.1";
        QTest::newRow("IPv6") << "::1";
    }
    void aReplyThatWaitedOutABusySpellCounts()
    {
        QFETCH(QString, host);
        Rig r(100, host);
        QVERIFY(r.sendThenStop(2));
        r.channel->reply(1);
        r.channel->reply(2);
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // no event is handled
        QTRY_COMPARE(r.handedOver(), (QStringList{"reply 1", "reply 2"}));
    }

    // A send the system refuses is a request made and lost, at once.
    void aRefusedSendIsSentAndLost()
    {
        Rig r;
        r.channel->refuseWith = ENETUNREACH;
        r.engine.setRunning(true);
        QTRY_VERIFY(r.channel->refused >= 3);
        r.engine.setRunning(false);
        QVERIFY(r.told.size() >= 9);
        QCOMPARE(r.told.mid(0, 3),
                 (QStringList{"sent", QString("failed 1 %1").arg(int(EchoFailure::SendFailed)),
                              "lost 1"}));
        QCOMPARE(r.told.count("sent"), r.channel->refused);
        QCOMPARE(r.handedOver().size(), r.channel->refused);
    }

    // Notifications come from the event loop, never from inside a call the
    // window makes, even with results waiting in the channel.
    void noNotificationFromInsideACall()
    {
        Rig r;
        r.channel->answerAtOnce = true;
        r.insideCall = true;
        r.engine.setRunning(true);
        r.insideCall = false;
        QTRY_VERIFY(r.handedOver().size() >= 5);
        r.channel->answerAtOnce = false;
        r.channel->reply(uint16_t(r.channel->sent.size())); // waiting in the channel
        r.insideCall = true;
        r.engine.setInterval(20);
        r.engine.setTimeout(1000);
        r.engine.setPayloadSize(56);
        r.engine.setSynchronous(false);
        r.engine.setRestartSequence(true);
        r.engine.setRunning(false);
        r.engine.setHost("127.0.0.2");
        r.engine.setRunning(true);
        r.insideCall = false;
        QTRY_VERIFY(r.told.count("sent") >= 8);
        r.engine.setRunning(false);
        // A host text that names nothing fails the run, later.
        r.told.clear();
        r.insideCall = true;
        r.engine.setHost(" ");
        r.engine.setRunning(true);
        r.insideCall = false;
        QTRY_COMPARE(r.told,
                     QStringList{QString("failed 0 %1").arg(int(EchoFailure::ResolveFailed))});
        QCOMPARE(r.toldInsideCalls, 0);
    }
};

QTEST_MAIN(TestEngineRules)
#include "test_engine_rules.moc"
