// Runs inside a private network namespace (in-netns.sh): every packet stays
// on that namespace's loopback.
#include "IcmpEngine.h"
#include "IcmpFlood.h"
#include "IcmpResponder.h"
#include "IcmpSocketChannel.h"
#include "Patience.h"
#include "Platform.h"
#include "SwallowingNameServer.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <net/if.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>

Q_DECLARE_METATYPE(icmp::Family)
Q_DECLARE_METATYPE(SocketKind)

namespace {

using Family = icmp::Family;
using Action = IcmpResponder::Action;

void kernelEcho(bool on)
{
    std::ofstream("/proc/sys/net/ipv4/icmp_echo_ignore_all") << (on ? 0 : 1);
    std::ofstream("/proc/sys/net/ipv6/icmp/echo_ignore_all") << (on ? 0 : 1);
}

void setLoopbackMtu(int mtu)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    request.ifr_mtu = mtu;
    ioctl(fd, SIOCSIFMTU, &request);
    close(fd);
}

QString loopback(Family family)
{
    return family == Family::V4 ? "127.0.0.1" : "::1";
}

struct Failure {
    int seq;
    int reason;
    int detail;
};

// An engine on one socket of the kind under test, with what it reports.
struct Probe {
    IcmpSocketChannel *channel = nullptr; // the engine owns it; set before the engine is made
    IcmpEngine engine;
    int sent = 0;
    int stopped = 0;
    QList<int> replies;
    QList<int> roundTrips;
    QList<int> hops;
    QList<Failure> failures;
    QList<int> lost; // handed over as lost, in order
    QList<qint64> sendTimes;
    QElapsedTimer clock;

    static EchoChannels socketsOf(Family family, SocketKind kind, IcmpSocketChannel *&channel)
    {
        EchoChannels channels;
        int error = 0;
        auto opened = IcmpSocketChannel::open(family, kind, error);
        if (!opened)
            qFatal("cannot open a socket: %s", std::strerror(error));
        channel = opened.get();
        (family == Family::V4 ? channels.v4 : channels.v6) = std::move(opened);
        return channels;
    }

    Probe(Family family, SocketKind kind) : engine(socketsOf(family, kind, channel))
    {
        clock.start();
        QObject::connect(&engine, &EchoEngine::requestSent, [this] {
            ++sent;
            sendTimes << clock.elapsed();
        });
        QObject::connect(&engine, &EchoEngine::replyReceived,
                         [this](qint16 seq, int value, qint32 ms) {
                             replies << seq;
                             hops << value;
                             roundTrips << ms;
                         });
        QObject::connect(&engine, &EchoEngine::requestFailed,
                         [this](int seq, EchoFailure reason, int detail) {
                             failures << Failure{seq, int(reason), detail};
                         });
        QObject::connect(&engine, &EchoEngine::requestLost, [this](qint16 seq) { lost << seq; });
        QObject::connect(&engine, &EchoEngine::stoppedSending, [this] { ++stopped; });
        engine.setInterval(20);
        engine.setTimeout(300);
    }

    void ping(const QString &host)
    {
        engine.setHost(host);
        engine.setRunning(true);
    }

    // Pings until `count` requests went out, then lets their fate settle.
    [[nodiscard]] bool pingRequests(const QString &host, int count)
    {
        ping(host);
        const bool allSent = QTest::qWaitFor([&] { return sent >= count; }, 10000);
        engine.setRunning(false);
        const bool settled = QTest::qWaitFor([&] { return replies.size() + lost.size() >= sent; },
                                             engine.timeout() + 1000);
        return allSent && settled;
    }

    QList<int> failedWith(EchoFailure reason) const
    {
        QList<int> seqs;
        for (const Failure &f : failures)
            if (f.reason == int(reason))
                seqs << f.seq;
        return seqs;
    }
};

void addFamiliesAndKinds()
{
    QTest::addColumn<Family>("family");
    QTest::addColumn<SocketKind>("kind");
    QTest::newRow("IPv4 datagram") << Family::V4 << SocketKind::Datagram;
    QTest::newRow("IPv4 raw") << Family::V4 << SocketKind::Raw;
    QTest::newRow("IPv6 datagram") << Family::V6 << SocketKind::Datagram;
    QTest::newRow("IPv6 raw") << Family::V6 << SocketKind::Raw;
}

} // namespace

class TestIcmpEngine : public QObject {
    Q_OBJECT

  private slots:
    void init() { kernelEcho(false); }

    void kernelRepliesOnLoopback_data() { addFamiliesAndKinds(); }
    void kernelRepliesOnLoopback()
    {
        QFETCH(Family, family);
        QFETCH(SocketKind, kind);
        kernelEcho(true);
        Probe p(family, kind);
        QVERIFY(p.pingRequests(loopback(family), 5));
        QCOMPARE(p.replies.mid(0, 5), (QList<int>{1, 2, 3, 4, 5}));
        QCOMPARE(p.replies.size(), p.sent);
        QVERIFY(p.failures.isEmpty());
        for (int ms : p.roundTrips)
            QVERIFY2(ms >= 0 && ms <= 5, qPrintable(QString::number(ms)));
        QCOMPARE(p.hops.first(), 64);
        QCOMPARE(p.engine.lastSequenceSent(), double(p.sent));
    }

    void payloadSizesAtTheLimits_data() { addFamiliesAndKinds(); }
    void payloadSizesAtTheLimits()
    {
        QFETCH(Family, family);
        QFETCH(SocketKind, kind);
        kernelEcho(true);
        Probe p(family, kind);
        p.engine.setPayloadSize(1e9);
        QCOMPARE(p.engine.payloadSize(), 65527.0);
        QVERIFY(p.pingRequests(loopback(family), 1));
        QCOMPARE(p.engine.payloadSize(), family == Family::V4 ? 65507.0 : 65527.0);
        QCOMPARE(p.replies, QList<int>{1});

        p.engine.setPayloadSize(-3);
        QCOMPARE(p.engine.payloadSize(), 0.0);
        QVERIFY(p.pingRequests(loopback(family), 2));
        QCOMPARE(p.replies, (QList<int>{1, 2}));
    }

    void delaysAreMeasuredToTheMillisecond_data() { addFamiliesAndKinds(); }
    void delaysAreMeasuredToTheMillisecond()
    {
        QFETCH(Family, family);
        QFETCH(SocketKind, kind);
        IcmpResponder responder(family,
                                [](uint16_t seq) { return Action{.delayMs = seq % 2 ? 30 : 70}; });
        QVERIFY(responder.ok());
        Probe p(family, kind);
        QVERIFY(p.pingRequests(loopback(family), 6));
        QCOMPARE(p.replies.size(), p.sent);
        // Within a millisecond of how long the responder really held each
        // answer, which is about the delay asked for.
        for (int i = 0; i < p.replies.size(); ++i) {
            const auto held = responder.heldMs(uint16_t(p.replies[i]));
            QVERIFY(held);
            QVERIFY(held->beforeSendMs >= (p.replies[i] % 2 ? 30 : 70));
            QVERIFY2(p.roundTrips[i] >= held->beforeSendMs - 1 &&
                         p.roundTrips[i] <= held->afterSendMs + 1,
                     qPrintable(QString("seq %1: %2 ms measured, %3 to %4 ms held")
                                    .arg(p.replies[i])
                                    .arg(p.roundTrips[i])
                                    .arg(held->beforeSendMs)
                                    .arg(held->afterSendMs)));
        }
    }

    // Whoever has seen an answer arrive finds it on the responder's record,
    // as the tests that measure delays need: even a reader that runs the
    // instant the answer wakes it, at real-time priority on the responder's
    // core, before the responder's thread has the core back.
    void anAnswerIsOnRecordOnceItHasArrived()
    {
        cpu_set_t firstCore;
        CPU_ZERO(&firstCore);
        CPU_SET(0, &firstCore);
        // The responder's thread, made next, inherits the core.
        QVERIFY(sched_setaffinity(0, sizeof firstCore, &firstCore) == 0);
        IcmpResponder responder(Family::V4, [](uint16_t) { return Action{}; });
        QVERIFY(responder.ok());
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
        QVERIFY(fd >= 0);
        const timeval patience{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const sched_param realTime{1};
        QVERIFY(pthread_setschedparam(pthread_self(), SCHED_FIFO, &realTime) == 0);
        QList<int> unrecorded;
        int answers = 0;
        for (uint16_t seq = 1; seq <= 20; ++seq) {
            const auto request = icmp::buildEchoRequest(Family::V4, 0, seq, {});
            sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr *>(&to),
                   sizeof to);
            uint8_t reply[64];
            if (recv(fd, reply, sizeof reply, 0) <= 0)
                continue;
            ++answers;
            if (!responder.answeredAtNs(seq))
                unrecorded << seq;
        }
        const sched_param normal{0};
        pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal);
        close(fd);
        cpu_set_t all;
        CPU_ZERO(&all);
        for (int core = 0; core < CPU_SETSIZE; ++core)
            CPU_SET(core, &all);
        sched_setaffinity(0, sizeof all, &all);
        QCOMPARE(answers, 20);
        QCOMPARE(unrecorded, QList<int>());
    }

    void onlyTrueAnswersAreReported_data() { addFamiliesAndKinds(); }
    void onlyTrueAnswersAreReported()
    {
        QFETCH(Family, family);
        QFETCH(SocketKind, kind);
        using C = IcmpResponder::Corruption;
        const bool v4 = family == Family::V4;
        IcmpResponder responder(family, [v4](uint16_t seq) {
            switch (seq % 7) {
            case 2:
                return Action{.drop = true};
            case 3:
                return Action{.copies = 3};
            case 4:
                return Action{.foreignId = true};
            case 5:
                return Action{.corruption = C::Payload};
            case 6:
                return Action{.corruption = C::Truncate};
            case 0:
                return Action{.corruption = v4 ? C::Checksum : C::Payload};
            default:
                return Action{};
            }
        });
        QVERIFY(responder.ok());
        Probe p(family, kind);
        QVERIFY(p.pingRequests(loopback(family), 14));
        QList<int> answered;
        QList<int> lost;
        for (int seq = 1; seq <= p.sent; ++seq)
            (seq % 7 == 1 || seq % 7 == 3 ? answered : lost) << seq;
        QCOMPARE(p.replies, answered);
        QCOMPARE(p.failedWith(EchoFailure::Timeout), lost);
        QCOMPARE(p.lost, lost);
    }

    // Other programs' ICMP as fast as this machine sends it: the raw
    // socket's filter keeps it out, so its queue never overflows and every
    // count is exact, run after run.
    void aHeavyFloodLosesNoReplyOnTheRawPath_data()
    {
        QTest::addColumn<Family>("family");
        QTest::newRow("IPv4") << Family::V4;
        QTest::newRow("IPv6") << Family::V6;
    }
    void aHeavyFloodLosesNoReplyOnTheRawPath()
    {
        QFETCH(Family, family);
        for (int run = 0; run < 3; ++run) {
            IcmpResponder responder(
                family, [](uint16_t seq) { return Action{.drop = seq % 10 == 4, .delayMs = 2}; });
            IcmpFlood flood(family, 1'000'000, std::chrono::seconds(10),
                            IcmpFlood::Requests::LeftOut);
            QVERIFY(responder.ok() && flood.ok());
            Probe p(family, SocketKind::Raw);
            p.engine.setInterval(10);
            QVERIFY(p.pingRequests(loopback(family), 100));
            QTest::qWait(50);
            const long floodSent = flood.sent();
            qInfo("run %d: %ld foreign messages while %d requests went out (%lld refused), %u "
                  "dropped by the kernel, %llu late replies",
                  run, floodSent, p.sent,
                  static_cast<long long>(p.failedWith(EchoFailure::SendFailed).size()),
                  p.channel->kernelDrops(),
                  static_cast<unsigned long long>(p.engine.lateReplies()));
            QVERIFY(floodSent > 10000);
            // Every reply the responder sent is counted, and nothing else;
            // what it never answered (dropped, or refused by our kernel under
            // the flood) is lost.
            QList<int> answered;
            for (int seq = 1; seq <= p.sent; ++seq)
                if (responder.answeredAtNs(uint16_t(seq)))
                    answered << seq;
            QCOMPARE(p.replies, answered);
            QCOMPARE(p.replies.size() + p.lost.size(), p.sent);
            QCOMPARE(p.channel->kernelDrops(), 0u);
        }
    }

    // Thousands of foreign ICMP messages a second change no count, and a
    // Stop still takes effect at once.
    void aFloodOfForeignIcmpChangesNothing_data() { addFamiliesAndKinds(); }
    void aFloodOfForeignIcmpChangesNothing()
    {
        QFETCH(Family, family);
        QFETCH(SocketKind, kind);
        IcmpResponder responder(family, [](uint16_t) { return Action{.delayMs = 5}; });
        IcmpFlood flood(family, 5000, std::chrono::seconds(10));
        QVERIFY(responder.ok() && flood.ok());
        Probe p(family, kind);
        p.ping(loopback(family));
        QVERIFY(QTest::qWaitFor([&] { return p.sent >= 60; }, 5000));
        QElapsedTimer sinceStop;
        p.engine.setRunning(false);
        sinceStop.start();
        const int sent = p.sent;
        QVERIFY(QTest::qWaitFor([&] { return p.replies.size() >= sent; }, 2000));
        QTest::qWait(100);
        qInfo("%ld foreign messages during %d requests", flood.sent(), sent);
        QVERIFY(flood.sent() > 1000);
        QCOMPARE(p.sent, sent); // nothing left after the Stop
        QCOMPARE(p.replies.size(), sent);
        for (int i = 0; i < sent; ++i)
            QCOMPARE(p.replies[i], i + 1);
        QVERIFY(p.failures.isEmpty());
    }

    void lateRepliesAreNotReported()
    {
        IcmpResponder responder(Family::V4, [](uint16_t) { return Action{.delayMs = 250}; });
        Probe p(Family::V4, SocketKind::Datagram);
        p.engine.setTimeout(100);
        QVERIFY(p.pingRequests("127.0.0.1", 3));
        QTest::qWait(400); // the late replies arrive now
        QVERIFY(p.replies.isEmpty());
        QCOMPARE(p.failedWith(EchoFailure::Timeout), (QList<int>{1, 2, 3}));
        QCOMPARE(p.lost, (QList<int>{1, 2, 3}));
        QCOMPARE(p.engine.lateReplies(), 3u);
    }

    void unreachableIsAFailureOfThatRequest_data() { addFamiliesAndKinds(); }
    void unreachableIsAFailureOfThatRequest()
    {
        QFETCH(Family, family);
        QFETCH(SocketKind, kind);
        IcmpResponder responder(family,
                                [](uint16_t seq) { return Action{.unreachable = seq == 2}; });
        Probe p(family, kind);
        QVERIFY(p.pingRequests(loopback(family), 3));
        QCOMPARE(p.replies, (QList<int>{1, 3}));
        QCOMPARE(p.failures.size(), 1);
        QCOMPARE(p.failures[0].seq, 2);
        QCOMPARE(p.failures[0].reason, int(EchoFailure::IcmpError));
        QCOMPARE(p.failures[0].detail, family == Family::V4 ? 3 * 256 + 1 : 1 * 256 + 3);
    }

    // A reply overtaken by later ones is waited for while it is within the
    // patience (never less than its floor); past it, it counts as lost and
    // its late reply is only counted.
    void repliesAreHandedOverInRequestOrder()
    {
        // Held for half the patience, so that requests 3 and 4 overtake it
        // and it still comes well before it would count as lost: a machine
        // busy for a few milliseconds must not turn it into a loss.
        const int slowMs =
            int(std::chrono::duration_cast<std::chrono::milliseconds>(Patience::floor / 2).count());
        Probe p(Family::V4, SocketKind::Raw);
        p.engine.setInterval(10);
        {
            IcmpResponder responder(
                Family::V4, [&](uint16_t seq) { return Action{.delayMs = seq == 2 ? slowMs : 0}; });
            QVERIFY(p.pingRequests("127.0.0.1", 5));
        }
        QCOMPARE(p.replies, (QList<int>{1, 2, 3, 4, 5}));
        // Each round trip is still measured when its reply arrived.
        QVERIFY(p.roundTrips[1] >= slowMs);
        QVERIFY(p.roundTrips[2] < slowMs / 2);

        IcmpResponder slower(Family::V4,
                             [](uint16_t seq) { return Action{.delayMs = seq == 7 ? 300 : 0}; });
        QVERIFY(p.pingRequests("127.0.0.1", 10));
        QTest::qWait(300);
        QCOMPARE(p.lost, QList<int>{7});
        QCOMPARE(p.replies.mid(5), (QList<int>{6, 8, 9, 10}));
        QCOMPARE(p.engine.lateReplies(), 1u);
    }

    void restartFlagStartsOverAtOne()
    {
        kernelEcho(true);
        Probe p(Family::V4, SocketKind::Datagram);
        p.ping("127.0.0.1");
        QVERIFY(QTest::qWaitFor([&] { return p.replies.size() >= 3; }, 5000));
        p.engine.setRestartSequence(true);
        const int before = p.sent;
        QVERIFY(QTest::qWaitFor([&] { return p.sent >= before + 2; }, 5000));
        p.engine.setRunning(false);
        QVERIFY(!p.engine.restartSequence());
        QVERIFY(QTest::qWaitFor([&] { return p.replies.size() >= p.sent; }, 2000));
        QCOMPARE(p.replies.mid(before, 2), (QList<int>{1, 2}));
        QCOMPARE(p.replies.mid(0, 3), (QList<int>{1, 2, 3}));

        // A later switch-on goes on counting unless told to restart.
        const int total = p.sent;
        p.ping("127.0.0.1");
        QVERIFY(QTest::qWaitFor([&] { return p.sent > total; }, 5000));
        p.engine.setRunning(false);
        QVERIFY(QTest::qWaitFor([&] { return p.replies.size() >= p.sent; }, 2000));
        QCOMPARE(p.replies[total], p.replies[total - 1] + 1);
    }

    void synchronousModeWaitsForEachAnswer()
    {
        IcmpResponder responder(Family::V4, [](uint16_t) { return Action{.delayMs = 100}; });
        Probe p(Family::V4, SocketKind::Datagram);
        p.engine.setSynchronous(true);
        p.ping("127.0.0.1");
        QTest::qWait(650);
        p.engine.setRunning(false);
        QVERIFY2(p.sent >= 3 && p.sent <= 7, qPrintable(QString::number(p.sent)));
        for (int i = 1; i < p.sendTimes.size(); ++i)
            QVERIFY(p.sendTimes[i] - p.sendTimes[i - 1] >= 99);
        QVERIFY(QTest::qWaitFor([&] { return p.replies.size() >= p.sent; }, 1000));
        QVERIFY(p.failures.isEmpty());
    }

    void dontFragmentRefusesOversizedRequests_data() { addFamiliesAndKinds(); }
    void dontFragmentRefusesOversizedRequests()
    {
        QFETCH(Family, family);
        QFETCH(SocketKind, kind);
        kernelEcho(true);
        setLoopbackMtu(1500);
        Probe p(family, kind);
        p.engine.setPayloadSize(3000);
        const bool fragmented = p.pingRequests(loopback(family), 2);
        const QList<int> replies = p.replies;

        p.engine.setDontFragment(true);
        p.ping(loopback(family));
        const bool refused = QTest::qWaitFor([&] { return p.failures.size() >= 2; }, 3000);
        p.engine.setRunning(false);
        setLoopbackMtu(65536);
        QVERIFY(fragmented);
        QCOMPARE(replies, (QList<int>{1, 2}));
        QVERIFY(refused);
        // A refused request is still a request made.
        QVERIFY(p.sent >= 4);
        QCOMPARE(p.failedWith(EchoFailure::SendFailed).size(), p.sent - 2);
    }

    void hostsThatCannotBePingedSendNothing()
    {
        kernelEcho(true);
        for (const QString &host : {QString(), QString("   "), QString(300, 'a'),
                                    QString("0.0.0.0"), QString("::"), QString("::ffff:0.0.0.0")}) {
            Probe p(Family::V4, SocketKind::Datagram);
            p.ping(host);
            QVERIFY(QTest::qWaitFor([&] { return p.stopped > 0; }, 2000));
            QCOMPARE(p.stopped, 1);
            QVERIFY(!p.engine.running());
            QCOMPARE(p.failedWith(EchoFailure::ResolveFailed).size(), 1);
            QTest::qWait(50);
            QCOMPARE(p.sent, 0);
        }
    }

    void anUnresolvableNameRetriesAndSendsNothing()
    {
        kernelEcho(true);
        Probe p(Family::V4, SocketKind::Datagram);
        p.ping("no-such-host.invalid");
        QVERIFY(QTest::qWaitFor([&] { return !p.failures.isEmpty(); }, 5000));
        // No name server listens in this namespace: the resolver could not ask.
        QCOMPARE(p.failures[0].reason, int(EchoFailure::NameServerSilent));
        QVERIFY(p.engine.running());
        QCOMPARE(p.sent, 0);
        QCOMPARE(p.stopped, 0);
        p.engine.setRunning(false);

        // A name that does resolve, to the family that has a socket.
        p.ping("localhost");
        QVERIFY(QTest::qWaitFor([&] { return !p.replies.isEmpty(); }, 5000));
        p.engine.setRunning(false);
    }

    // A name server that never answers holds up neither Stop, nor a literal
    // or another name started after it, and repeated Starts share one lookup.
    void aPendingLookupHoldsNothingUp()
    {
        kernelEcho(true);
        SwallowingNameServer nameServer;
        QVERIFY(nameServer.ok());
        Probe p(Family::V4, SocketKind::Datagram);
        const auto threads = [] {
            std::ifstream status("/proc/self/status");
            for (std::string line; std::getline(status, line);)
                if (line.rfind("Threads:", 0) == 0)
                    return std::stoi(line.substr(8));
            return -1;
        };
        p.ping("slow.test");
        QTest::qWait(100);
        const int lookingUp = threads();
        for (int i = 0; i < 50; ++i) {
            p.engine.setRunning(false);
            p.ping("slow.test");
        }
        QTest::qWait(100);
        QCOMPARE(threads(), lookingUp);
        p.engine.setRunning(false);
        QVERIFY(!p.engine.running());

        for (const char *host : {"127.0.0.1", "localhost"}) {
            QTest::qWait(50); // the earlier run's last reply comes back
            QElapsedTimer clock;
            clock.start();
            const int before = p.replies.size();
            p.ping(host);
            QVERIFY(QTest::qWaitFor([&] { return p.replies.size() > before; }, 1000));
            p.engine.setRunning(false);
            qInfo("%s answered %lld ms after its Start", host,
                  static_cast<long long>(clock.elapsed()));
        }
        QCOMPARE(p.failures.size(), 0);
    }

    void aFamilyWithoutASocketStopsAtOnce()
    {
        Probe p(Family::V4, SocketKind::Datagram);
        p.ping("::1");
        QVERIFY(QTest::qWaitFor([&] { return p.stopped > 0; }, 2000));
        QCOMPARE(p.failedWith(EchoFailure::NoSocket).size(), 1);
        QCOMPARE(p.sent, 0);
        QVERIFY(!p.engine.running());
    }

    // A link-local address needs its zone, by name or by number; the kernel
    // at the far end of the veth pair (in-netns.sh) answers.
    void scopedLinkLocalAddresses_data()
    {
        QTest::addColumn<SocketKind>("kind");
        QTest::newRow("datagram") << SocketKind::Datagram;
        QTest::newRow("raw") << SocketKind::Raw;
    }
    void scopedLinkLocalAddresses()
    {
        QFETCH(SocketKind, kind);
        Probe p(Family::V6, kind);
        QVERIFY(p.pingRequests("fe80::2%near0", 3));
        const QString index = QString::number(if_nametoindex("near0"));
        QVERIFY(p.pingRequests("fe80::2%" + index, 6));
        QCOMPARE(p.replies, (QList<int>{1, 2, 3, 4, 5, 6}));
        QVERIFY(p.failures.isEmpty());
        QCOMPARE(p.hops.first(), 64);

        p.ping("fe80::2%nosuch0");
        QTest::qWait(300);
        p.engine.setRunning(false);
        QCOMPARE(p.sent, 6);
    }

    void privilegesAreDroppedAfterOpeningTheSockets()
    {
        // In a child, so that this test process keeps its own rights.
        const pid_t child = fork();
        if (child == 0) {
            EchoChannels channels = openEchoChannels();
            if (!dropPrivileges().empty())
                _exit(2);
            int error = 0;
            const bool rawRefused =
                !IcmpSocketChannel::open(Family::V4, SocketKind::Raw, error) && error == EPERM;
            std::ifstream status("/proc/self/status");
            bool noCapabilities = false;
            for (std::string line; std::getline(status, line);)
                if (line.rfind("CapPrm:", 0) == 0)
                    noCapabilities = std::stoull(line.substr(7), nullptr, 16) == 0;
            _exit(channels.v4 && channels.v6 && rawRefused && noCapabilities ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }

    void settingsNeverNotifyAndStayInRange()
    {
        kernelEcho(true);
        Probe p(Family::V4, SocketKind::Datagram);
        p.engine.setHost("127.0.0.1");
        p.engine.setRunning(true);
        p.engine.setInterval(50);
        p.engine.setSynchronous(false);
        p.engine.setRestartSequence(true);
        // Nothing reaches the window from inside its own calls.
        QCOMPARE(p.sent + p.stopped + p.failures.size(), 0);

        const std::pair<double, double> intervals[] = {
            {-5, 10}, {1e300, 2147483647}, {NAN, 2147483647}, {250.4, 250}};
        for (auto [written, kept] : intervals) {
            p.engine.setInterval(written);
            QCOMPARE(p.engine.interval(), kept);
        }
        p.engine.setTimeout(-1);
        QCOMPARE(p.engine.timeout(), 1.0);
        p.engine.setPayloadSize(NAN);
        QCOMPARE(p.engine.payloadSize(), 32.0);
        // An enormous interval, then a sane one: the next request follows
        // the last by the new interval, not the old.
        p.engine.setInterval(1e300);
        QVERIFY(QTest::qWaitFor([&] { return p.sent >= 1; }, 2000));
        p.engine.setInterval(20);
        QVERIFY(QTest::qWaitFor([&] { return p.sent >= 3; }, 2000));
        p.engine.setRunning(false);
    }
};

QTEST_MAIN(TestIcmpEngine)
#include "test_icmp_engine.moc"
