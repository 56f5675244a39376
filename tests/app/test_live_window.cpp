// The window on the real engine, inside a private network namespace
// (in-netns.sh), against a scripted responder on its loopback.
#include "LiveWindow.h"
#include "NumberText.h"
#include "SwallowingNameServer.h"
#include "frmPing.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <random>
#include <set>

namespace {
using Action = IcmpResponder::Action;

// A live window that says what it saw when its test failed.
struct Watched : LiveWindow {
    using LiveWindow::LiveWindow;
    Watched(const Watched &) = delete;
    ~Watched()
    {
        if (QTest::currentTestFailed())
            describe();
    }
};
} // namespace

class TestLiveWindow : public QObject {
    Q_OBJECT

  private slots:
    void init() { std::ofstream("/proc/sys/net/ipv4/icmp_echo_ignore_all") << 1; }

    void pingsTheLoopbackForReal()
    {
        IcmpResponder responder(
            icmp::Family::V4, [](uint16_t seq) { return Action{.drop = seq == 3, .delayMs = 50}; });
        QVERIFY(responder.ok());
        Watched w("127.0.0.1");
        QVERIFY(w.engine.running());
        QCOMPARE(w.text("SendLabel"), "0"); // nothing is sent from inside start-up
        // The replies behind the lost one wait for its timeout, then come.
        QVERIFY(waitUntil([&] { return w.redBars() > 0; }, 5000));
        QVERIFY(w.window.recvCount() >= 2);
        QVERIFY(w.window.sentCount() >= w.window.recvCount() + 1);
        QVERIFY(w.text("cping") == "50 ms" || w.text("cping") == "51 ms");
        QCOMPARE(w.redBars(), 1);
        const int samples = roundToInt32(w.window.recvCount()) + 1;
        QCOMPARE(w.text("wndLoss"), QString("%1 %").arg(roundToInt32(100.0 / samples)));
        QCOMPARE(w.beeps, 0);

        // Values beyond what the engine supports show as the ones in force.
        auto *box = w.window.findChild<QLineEdit *>("HostName");
        auto command = [&](const char *text) {
            box->setText(text);
            QTest::keyClick(box, Qt::Key_Return);
            return box->text();
        };
        command("P:99999999");
        QCOMPARE(command("P:?"), "P:65507");
        command("S:1e308");
        QCOMPARE(command("S:?"), "S:2147483647");
        QCOMPARE(w.beeps, 2);
        QVERIFY(w.engine.running());
        command("S:20");
        const double sent = w.window.sentCount();
        QVERIFY(waitUntil([&] { return w.window.sentCount() > sent; }, 2000));

        w.window.Command1_Click();
        QVERIFY(!w.engine.running());
    }

    // Replies of 50 to 350 ms at 100 ms intervals overtake each other all the
    // time; only the dropped requests show as losses, each exactly once.
    void jitterShowsOnlyTheRealLosses()
    {
        const auto dropped = [](int seq) { return seq % 23 == 11; };
        IcmpResponder responder(icmp::Family::V4, [&](uint16_t seq) {
            return Action{.drop = dropped(seq), .delayMs = 50 + seq * 7919 % 301};
        });
        Watched w;
        w.start("127.0.0.1", 100);
        QVERIFY(w.sendThenStop(100, 15000));
        const int sent = roundToInt32(w.window.sentCount());
        int drops = 0;
        for (int seq = 1; seq <= sent; ++seq)
            drops += dropped(seq);
        QVERIFY(waitUntil([&] { return w.handedOver.size() + w.lost.size() >= sent; }, 5000));
        qInfo("%d sent, %d dropped", sent, drops);
        w.displayDelays(responder);
        w.showLosses();
        w.showPatience();
        QCOMPARE(w.window.recvCount(), double(sent - drops));
        QVERIFY(std::is_sorted(w.handedOver.begin(), w.handedOver.end()));
        QCOMPARE(w.redBars(), drops);
        QCOMPARE(w.engine.lateReplies(), 0u);
        QCOMPARE(w.text("wndLoss"), QString("%1 %").arg(roundToInt32(100.0 * drops / sent)));
        QCOMPARE(w.text("LossLabel"), w.text("wndLoss"));
    }

    // 5 % of the requests lost at random: the replies behind a loss wait only
    // for the patience, not for its timeout, and every count is exact. Then
    // one reply twenty times slower than the rest costs at most one red bar.
    void aLossHoldsLaterRepliesOnlyBriefly()
    {
        std::mt19937 random(17);
        std::set<int> drops;
        while (drops.size() < 5)
            drops.insert(int(random() % 90) + 1);
        constexpr int slow = 95;
        IcmpResponder responder(icmp::Family::V4, [&](uint16_t seq) {
            return Action{.drop = drops.count(seq) > 0, .delayMs = seq == slow ? 400 : 20};
        });
        Watched w;
        w.start("127.0.0.1", 100);
        QVERIFY(w.sendThenStop(100, 15000));
        const int sent = roundToInt32(w.window.sentCount());
        QVERIFY(waitUntil([&] { return w.handedOver.size() + w.lost.size() >= sent; }, 5000));
        QTest::qWait(500); // the slow reply, if it came after its verdict
        const auto delays = w.displayDelays(responder);
        w.showLosses();
        w.showPatience();
        const int late = int(w.engine.lateReplies());
        QVERIFY(late <= 1);
        if (late)
            drops.insert(slow);
        QCOMPARE(w.lost, QList<int>(drops.begin(), drops.end()));
        QCOMPARE(w.window.recvCount(), double(sent - int(drops.size())));
        QCOMPARE(w.redBars(), int(drops.size()));
        QVERIFY(delays.medianMs < 50);
        QVERIFY(delays.p90Ms < 300);
        QVERIFY(delays.worstMs < 300); // a wait for the 2 s timeout would show here
    }

    // A host that answers nothing reads 100 % with red bars scrolling in at
    // its timeout; when it answers again its first reply shows at once. The
    // same after an outage in the middle of a run.
    void aSilentHostShowsItsLossAndItsReturn()
    {
        std::atomic<bool> answering = false;
        IcmpResponder responder(
            icmp::Family::V4, [&](uint16_t) { return Action{.drop = !answering, .delayMs = 20}; });
        Watched w;
        w.start("127.0.0.1", 100);
        QTest::qWait(5000);
        qInfo("silent for 5 s: %g sent, loss \"%s\", %d red bars", w.window.sentCount(),
              qPrintable(w.text("LossLabel")), w.redBars());
        QCOMPARE(w.text("LossLabel"), "100 %");
        QCOMPARE(w.text("wndLoss"), "100 %");
        QCOMPARE(w.text("RecvLabel"), " 0");
        QVERIFY(w.redBars() >= 25);

        const auto firstReplyDelay = [&] {
            const qsizetype before = w.handedOver.size();
            answering = true;
            if (!waitUntil([&] { return w.handedOver.size() > before; }, 3000))
                return 1e9;
            const auto at = responder.answeredAtNs(uint16_t(w.handedOver[before]));
            const double ms = at ? (w.handedOverNs[before] - *at) / 1e6 : 1e9;
            qInfo("first reply shown %.2f ms after it arrived", ms);
            return ms;
        };
        QVERIFY(firstReplyDelay() < 300);
        QVERIFY(waitUntil([&] { return w.window.recvCount() >= 30; }, 5000));
        answering = false;
        const int redBefore = w.redBars();
        QTest::qWait(5000);
        QVERIFY(w.redBars() >= redBefore + 25);
        QVERIFY(firstReplyDelay() < 300);
        w.window.Command1_Click();
        w.showPatience();
        QCOMPARE(w.engine.lateReplies(), 0u);
    }

    // On a link that keeps order, nothing waits: each reply reaches the
    // window as it arrives (a wait for a timeout would take 2 s).
    void aCleanLinkAddsNoDelay()
    {
        IcmpResponder responder(icmp::Family::V4, [](uint16_t) { return Action{.delayMs = 5}; });
        Watched w;
        w.start("127.0.0.1", 20);
        QVERIFY(w.sendThenStop(50, 5000));
        QVERIFY(waitUntil([&] { return w.window.recvCount() >= w.window.sentCount(); }, 1000));
        const auto delays = w.displayDelays(responder);
        QCOMPARE(delays.unrecorded, QList<int>());
        QCOMPARE(delays.count, qsizetype(w.window.recvCount()));
        QVERIFY(delays.worstMs < 100);
        QCOMPARE(w.redBars(), 0);
    }

    // The window asks the engine to number from 1 again once more than 1000
    // requests went out; a reply held back across that restart (though not
    // past the patience) is no loss.
    void aReplyDelayedAcrossTheRestartIsNoLoss()
    {
        IcmpResponder responder(
            icmp::Family::V4, [](uint16_t seq) { return Action{.delayMs = seq == 1001 ? 40 : 0}; });
        Watched w;
        w.start("127.0.0.1", 10);
        QVERIFY(waitUntil([&] { return w.handedOver.size() > 1040; }, 20000));
        w.window.Command1_Click();
        w.showLosses();
        const int restart = int(w.handedOver.indexOf(1, 1000));
        QVERIFY(restart > 1000);
        QCOMPARE(w.handedOver[restart - 1], restart);
        QCOMPARE(w.redBars(), 0);
        QCOMPARE(w.text("wndLoss"), "0 %");
    }

    // While the link is down the kernel refuses every request: each still
    // counts as sent, and each shows as a loss at once.
    void requestsRefusedDuringAnOutageCountAsSentAndLost()
    {
        Watched w;
        int refused = 0;
        int lost = 0;
        QObject::connect(&w.engine, &EchoEngine::requestFailed, [&](int, EchoFailure reason, int) {
            ++(reason == EchoFailure::SendFailed ? refused : lost);
        });
        auto link = [](const char *state) {
            return QProcess::execute("ip", {"link", "set", "near0", state}) == 0;
        };
        w.start("198.18.0.2", 100);
        QVERIFY(waitUntil([&] { return w.window.recvCount() >= 5; }, 3000));
        QVERIFY(link("down"));
        const double sentBefore = w.window.sentCount();
        QTest::qWait(2000);
        const double sentDuring = w.window.sentCount() - sentBefore;
        const QString lossDuring = w.text("LossLabel");
        QVERIFY(link("up"));
        const double received = w.window.recvCount();
        QVERIFY(waitUntil([&] { return w.window.recvCount() >= received + 5; }, 5000));
        w.window.Command1_Click();
        qInfo("during 2 s without a link: %g requests sent, %d refused", sentDuring, refused);
        QVERIFY(sentDuring >= 15);
        QVERIFY(refused >= 15);
        QVERIFY(lossDuring != "0 %"); // each refused request showed as it happened
        QCOMPARE(w.redBars(), refused + lost);
        QVERIFY(w.text("LossLabel") != "0 %");
    }

    // Whatever a user types: nothing crashes or hangs, no request goes
    // anywhere but to the hosts named, and "S:?" still answers.
    void hostileInputInTheHostBox()
    {
        std::ofstream("/proc/sys/net/ipv4/icmp_echo_ignore_all") << 0;
        std::ofstream("/etc/hosts", std::ios::app) << "127.0.0.1 xn--bcher-kva.test\n";
        SwallowingNameServer nameServer;
        Watched w;
        int requests = 0;
        QObject::connect(&w.engine, &EchoEngine::requestSent, [&] { ++requests; });
        // Echo requests that reached this namespace's own kernel.
        const auto echoesHere = [] {
            std::ifstream snmp("/proc/net/snmp");
            std::string line;
            for (int icmpLines = 0; std::getline(snmp, line);)
                if (line.rfind("Icmp:", 0) == 0 && ++icmpLines == 2)
                    return QString::fromStdString(line).split(' ')[9].toInt(); // InEchos
            return -1;
        };
        const int echoesBefore = echoesHere();
        auto *box = w.window.findChild<QLineEdit *>("HostName");
        auto enter = [&](const QString &text) {
            box->clear();
            for (const QChar c : text) // any character, as a keyboard or input method sends it
                QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(c), {});
            QTest::keyClick(box, Qt::Key_Return);
            return box->text();
        };
        const auto stop = [&] {
            if (w.engine.running())
                QTest::keyClick(box, Qt::Key_Return);
            QVERIFY(!w.engine.running());
        };

        enter(QString(10000, 'a')); // too long for any name
        QTest::qWait(100);
        QVERIFY(!w.engine.running());
        enter(QString("ab\x01\x07\x1b") + QChar(0x202E) + "c"); // control characters
        stop();

        // A name in another script is looked up in its ASCII form.
        QCOMPARE(enter("b\u00fccher.test"), "b\u00fccher.test");
        QVERIFY(waitUntil([&] { return w.window.recvCount() >= 2; }, 3000));
        stop();

        for (const char *ignored : {"S:-5", "P:-1", "S:abc"})
            enter(ignored);
        QCOMPARE(w.beeps, 1); // for the name too long to ping, refused by the engine
        QCOMPARE(enter("S:?"), "S:100");
        enter("P:70000");
        QCOMPARE(enter("P:?"), "P:65507");
        enter("S:100");
        QCOMPARE(w.beeps, 3);

        // A thousand Enters in a row end where they began.
        enter("127.0.0.1");
        stop();
        for (int i = 0; i < 1000; ++i)
            QTest::keyClick(box, Qt::Key_Return);
        QVERIFY(!w.engine.running());
        QCOMPARE(w.window.findChild<QPushButton *>("Command1")->text(), "Start");

        // A name whose lookup never ends, then Stop: nothing waits for it.
        const int before = requests;
        enter("slow.test");
        QVERIFY(w.engine.running());
        stop();
        QTest::qWait(300);
        QCOMPARE(requests, before);
        QCOMPARE(enter("S:?"), "S:100");

        QTest::qWait(100);
        qInfo("%d requests made, %d reached this machine's loopback", requests,
              echoesHere() - echoesBefore);
        QCOMPARE(echoesHere() - echoesBefore, requests);
    }

    // Text the engine cannot ping stops it at once: the button offers Start
    // again, the window says why, and nothing is sent.
    void aHostThatCannotBePingedSaysSo()
    {
        std::ofstream("/proc/sys/net/ipv4/icmp_echo_ignore_all") << 0;
        Watched w;
        int requests = 0;
        QObject::connect(&w.engine, &EchoEngine::requestSent, [&] { ++requests; });
        auto *box = w.window.findChild<QLineEdit *>("HostName");
        const QString tooLong(300, 'a');
        for (const QString &host :
             {QString("s:250"), QString("exa mple.com"), tooLong, QString("fe80::1%nosuchif"),
              QString("0.0.0.0"), QString("   ")}) {
            const int beeps = w.beeps;
            box->setText(host);
            QTest::keyClick(box, Qt::Key_Return);
            QVERIFY2(waitUntil([&] { return w.caption() == "Start"; }, 2000), qPrintable(host));
            QCOMPARE(w.beeps, beeps + 1);
            const QString expected = host.trimmed().isEmpty()
                                         ? "No host to ping: type a name or an address"
                                         : "Cannot find host " + host.trimmed();
            QCOMPARE(w.failureLine(), expected);
        }
        QTest::qWait(100);
        QCOMPARE(requests, 0);

        // Then a host that answers: the line goes with the first request.
        box->setText("127.0.0.1");
        QTest::keyClick(box, Qt::Key_Return);
        QVERIFY(waitUntil([&] { return w.window.recvCount() >= 1; }, 2000));
        QCOMPARE(w.failureLine(), "");
        QCOMPARE(w.caption(), "Stop");
    }

    // A name server that never answers: the engine keeps asking, so the
    // button still says Stop, and the window says what it waits for.
    void aSilentNameServerIsShown()
    {
        SwallowingNameServer nameServer;
        QVERIFY(nameServer.ok());
        Watched w;
        w.start("slow.test", 100);
        QVERIFY(waitUntil([&] { return !w.failureLine().isEmpty(); }, 3000));
        QCOMPARE(w.failureLine(), "Looking up name\u2026 (no answer from the name server yet)");
        QCOMPARE(w.caption(), "Stop");
        QCOMPARE(w.window.sentCount(), 0.0);
        w.window.Command1_Click();
        QCOMPARE(w.caption(), "Start");
    }

    // Without the right to ping, the window says so, not only standard error.
    void noPermissionIsShown()
    {
        EchoChannels none;
        none.v4Error = EPERM;
        none.v6Error = EPERM;
        Watched w({}, std::move(none));
        w.start("127.0.0.1", 100);
        QVERIFY(waitUntil([&] { return w.caption() == "Start"; }, 2000));
        QCOMPARE(w.failureLine(), "No permission to ping: see man lagoscope");
        QCOMPARE(w.window.sentCount(), 0.0);
    }

    // Closing ends the program at once, however many lookups are pending.
    void closingDoesNotWaitForPendingLookups()
    {
        SwallowingNameServer nameServer;
        QVERIFY(nameServer.ok());
        for (const char *presses : {"0", "40"}) {
            QProcess program;
            program.start(CLOSE_WHILE_RESOLVING, {"slow.test", presses, "300"});
            QVERIFY(program.waitForReadyRead(5000));
            QCOMPARE(program.readLine(), "closing\n");
            QElapsedTimer clock;
            clock.start();
            QVERIFY(program.waitForFinished(15000));
            qInfo("%s presses: gone %lld ms after the close", presses,
                  static_cast<long long>(clock.elapsed()));
            QVERIFY(clock.elapsed() < 1000);
            QCOMPARE(program.exitStatus(), QProcess::NormalExit);
            QCOMPARE(program.exitCode(), 0);
        }
    }

    // Stop, then Start at once while answers to the first run are still on
    // their way: they are handed over first, and leave no loss behind.
    void aStartWhileEarlierRepliesAreOnTheirWay()
    {
        std::atomic<bool> slow = true;
        IcmpResponder responder(icmp::Family::V4,
                                [&](uint16_t) { return Action{.delayMs = slow ? 400 : 0}; });
        Watched w;
        w.start("127.0.0.1", 20);
        QVERIFY(w.sendThenStop(40, 5000));
        slow = false;
        const int firstRun = roundToInt32(w.window.sentCount());
        w.window.Command1_Click();
        QVERIFY(w.engine.running());
        QVERIFY(waitUntil([&] { return w.window.sentCount() >= 40; }, 5000));
        w.window.Command1_Click();
        QVERIFY(waitUntil([&] { return w.handedOver.size() >= firstRun + w.window.sentCount(); },
                          3000));
        w.showLosses();
        // The second run numbers on or from 1, whichever the window asked for.
        for (int i = 1; i < firstRun; ++i)
            QCOMPARE(w.handedOver[i], i + 1);
        const int secondFirst = w.handedOver[firstRun];
        QVERIFY(secondFirst == 1 || secondFirst == firstRun + 1);
        for (int i = firstRun + 1; i < w.handedOver.size(); ++i)
            QCOMPARE(w.handedOver[i], w.handedOver[i - 1] + 1);
        QCOMPARE(w.redBars(), 0);
        QCOMPARE(w.text("wndLoss"), "0 %");
    }
};

QTEST_MAIN(TestLiveWindow)
#include "test_live_window.moc"
