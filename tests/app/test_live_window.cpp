// The window on the real engine, inside a private network namespace
// (in-netns.sh), against a scripted responder on its loopback.
#include "IcmpEngine.h"
#include "IcmpResponder.h"
#include "frmPing.h"

#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <fstream>

class TestLiveWindow : public QObject {
    Q_OBJECT

  private slots:
    void pingsTheLoopbackForReal()
    {
        std::ofstream("/proc/sys/net/ipv4/icmp_echo_ignore_all") << 1;
        IcmpResponder responder(icmp::Family::V4, [](uint16_t seq) {
            return IcmpResponder::Action{.drop = seq == 3, .delayMs = 50};
        });
        QVERIFY(responder.ok());
        int error = 0;
        IcmpSockets sockets;
        sockets.v4 = IcmpSocket::open(icmp::Family::V4, SocketKind::Datagram, error);
        QVERIFY(sockets.v4);
        IcmpEngine engine(std::move(sockets));
        int beeps = 0;
        frmPing window(
            engine, [&] { ++beeps; }, "127.0.0.1");
        auto text = [&](const char *name) { return window.findChild<QLabel *>(name)->text(); };

        QVERIFY(engine.running());
        QCOMPARE(text("SendLabel"), "0"); // nothing is sent from inside start-up
        QVERIFY(QTest::qWaitFor([&] { return window.recvCount() >= 5; }, 5000));
        QVERIFY(window.sentCount() >= window.recvCount() + 1);
        QVERIFY(text("cping") == "50 ms" || text("cping") == "51 ms");
        QCOMPARE(text("wndLoss"), "17 %"); // one loss among six samples
        int red = 0;
        for (int x = 9; x <= 384; ++x)
            red += window.drawing().pixel(x, 80) == qRgb(0xC0, 0, 0);
        QCOMPARE(red, 1);
        QCOMPARE(beeps, 0);

        // Values beyond what the engine supports show as the ones in force.
        auto *box = window.findChild<QLineEdit *>("HostName");
        auto command = [&](const char *text) {
            box->setText(text);
            QTest::keyClick(box, Qt::Key_Return);
            return box->text();
        };
        command("P:99999999");
        QCOMPARE(command("P:?"), "P:65507");
        command("S:1e400");
        QCOMPARE(command("S:?"), "S:2147483647");
        command("S:1e308");
        QCOMPARE(command("S:?"), "S:2147483647");
        QCOMPARE(beeps, 3);
        QVERIFY(engine.running());
        command("S:20");
        const double sent = window.sentCount();
        QVERIFY(QTest::qWaitFor([&] { return window.sentCount() > sent; }, 2000));

        window.Command1_Click();
        QVERIFY(!engine.running());
    }
};

QTEST_MAIN(TestLiveWindow)
#include "test_live_window.moc"
