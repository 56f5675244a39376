// The gateway watched beside the host, as a user meets it: this namespace
// behind a router and a host beyond it (in-routed-netns.sh), the router's
// nftables making the faults, and the notices from a real notification
// server on the desktop that with-desktop.sh gives.
#include "DesktopServices.h"
#include "GatewayWatch.h"
#include "LiveWindow.h"
#include "Platform.h"
#include "Program.h"
#include "TrayStatus.h"

#include <QScreen>
#include <QTest>
#include <QToolTip>

namespace {

QString routerNs()
{
    return qEnvironmentVariable("LAGOSCOPE_ROUTER_NS");
}

// Runs `command` in the router's namespace, or here.
bool run(const QStringList &command, bool inRouter = true)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    if (inRouter)
        process.start("ip", QStringList{"netns", "exec", routerNs()} + command);
    else
        process.start(command.first(), command.mid(1));
    return process.waitForFinished(10000) && process.exitCode() == 0;
}

bool nft(const QString &rules)
{
    return run({"nft", rules});
}

// The echo requests that a counter of the router's table has seen.
int counted(const QString &counter)
{
    QProcess nftList;
    nftList.start("ip",
                  {"netns", "exec", routerNs(), "nft", "list", "counter", "inet", "lab", counter});
    nftList.waitForFinished(10000);
    const auto packets = QRegularExpression("packets (\\d+)")
                             .match(QString::fromUtf8(nftList.readAllStandardOutput()));
    return packets.hasMatch() ? packets.captured(1).toInt() : -1;
}

// The program's parts as main wires them, but for the report.
struct Monitor {
    IcmpEngine engine{openEchoChannels()};
    IcmpEngine gatewayEngine{openEchoChannels()};
    frmPing window{engine, [] {}, {}};
    GatewayWatch gateway{window, gatewayEngine};
    TrayStatus tray{window, nullptr, &gateway};

    void start(const QString &host)
    {
        window.findChild<QLineEdit *>("HostName")->setText(host);
        window.Command1_Click();
    }
};

} // namespace

class TestGateway : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase()
    {
        if (!QFile::exists("/usr/bin/dunst"))
            QSKIP("the notification server is not installed (scripts/deps.sh test)");
        Program::nameApplication();
    }

    void init()
    {
        // Counters of the echo requests to the host and to the router, and
        // two chains for the faults: beyond the gateway, and at it.
        QVERIFY(nft("flush ruleset"));
        QVERIFY(nft("add table inet lab; add counter inet lab toHost; "
                    "add counter inet lab toRouter; add chain inet lab beyond; "
                    "add chain inet lab near; "
                    "add chain inet lab forward { type filter hook forward priority 0; }; "
                    "add chain inet lab input { type filter hook input priority 0; }; "
                    "add rule inet lab forward icmp type echo-request counter name toHost; "
                    "add rule inet lab forward icmpv6 type echo-request counter name toHost; "
                    "add rule inet lab forward jump beyond; "
                    "add rule inet lab input icmp type echo-request counter name toRouter; "
                    "add rule inet lab input icmpv6 type echo-request counter name toRouter; "
                    "add rule inet lab input jump near"));
    }

    void eachOutageSaysOnWhichSideOfTheGatewayItLies_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("gatewayName");
        QTest::addColumn<QStringList>("moveRoute");
        QTest::addColumn<QString>("movedName");
        QTest::newRow("IPv4") << "198.51.100.2"
                              << "192.0.2.1"
                              << QStringList{"ip",  "route",      "replace", "default",
                                             "via", "192.0.2.17", "dev",     "a1"}
                              << "192.0.2.17";
        // A link-local gateway, on the interface the route names.
        QTest::newRow("IPv6") << "2001:db8:2::2"
                              << "fe80::1%a0"
                              << QStringList{"ip",  "-6",      "route", "replace", "default",
                                             "via", "fe80::1", "dev",   "a1"}
                              << "fe80::1%a1";
    }
    void eachOutageSaysOnWhichSideOfTheGatewayItLies()
    {
        QFETCH(QString, host);
        QFETCH(QString, gatewayName);
        QFETCH(QStringList, moveRoute);
        QFETCH(QString, movedName);
        NotificationServer server;
        QVERIFY(server.serves());
        NotificationLog log;
        Monitor m;
        QWidget elsewhere; // the window the user is looking at instead
        QVERIFY(lookElsewhere(elsewhere));
        m.start(host);

        const QRegularExpression named(QString("\nGateway %1: \\d+ ms, 0 % lost$")
                                           .arg(QRegularExpression::escape(gatewayName)));
        QVERIFY2(waitUntil([&] { return m.tray.toolTip().contains(named); }, 5000),
                 qPrintable(m.tray.toolTip()));
        qInfo("tooltip: %s", qPrintable(m.tray.toolTip().replace('\n', " | ")));
        // The tooltip as an XEmbed tray shows it (Qt's own), kept beside the test.
        QToolTip::showText(elsewhere.mapToGlobal(QPoint(20, 20)), m.tray.toolTip(), &elsewhere,
                           elsewhere.rect(), 10000);
        waitUntil([] { return false; }, 500);
        QGuiApplication::primaryScreen()->grabWindow(0).save(
            QString("tooltip-%1.png").arg(QTest::currentDataTag()));
        QToolTip::hideText();

        // An outage beyond the gateway, then one at it; each notice says
        // which, and each return is told.
        const auto outage = [&](const QString &fault, const QString &side) {
            const qsizetype before = log.notices.size();
            const qsizetype returns = log.about(" answers again").size();
            if (!nft(fault))
                return QString("nft refused: ") + fault;
            if (!waitUntil([&] { return log.notices.size() > before; }, 6000))
                return QString("no notice");
            const auto notice = log.notices[before];
            qInfo("\"%s\": %s", qPrintable(notice.summary), qPrintable(notice.body));
            // What the server drew, kept beside the test.
            waitUntil([] { return false; }, 300);
            QGuiApplication::primaryScreen()->grabWindow(0).save(
                QString("gateway-%1-%2.png")
                    .arg(QTest::currentDataTag())
                    .arg(fault.contains("near") ? "at" : "beyond"));
            nft("flush chain inet lab beyond; flush chain inet lab near");
            if (!waitUntil([&] { return log.about(" answers again").size() > returns; }, 6000))
                return QString("no return told");
            if (notice.summary != host + " stopped answering")
                return "told " + notice.summary;
            if (!notice.body.endsWith(side))
                return "said " + notice.body;
            return QString();
        };
        QCOMPARE(outage("add rule inet lab beyond drop",
                        "Your gateway " + gatewayName +
                            " still answers: the fault lies beyond your network."),
                 QString());
        QCOMPARE(outage("add rule inet lab beyond drop; "
                        "add rule inet lab near icmp type echo-request drop; "
                        "add rule inet lab near icmpv6 type echo-request drop",
                        "Your gateway " + gatewayName +
                            " does not answer either: the fault is on your side of it."),
                 QString());

        // The route moves to the other link: the gateway is followed.
        QVERIFY(run(moveRoute, false));
        const QRegularExpression moved(
            QString("\nGateway %1: \\d+ ms, ").arg(QRegularExpression::escape(movedName)));
        QVERIFY2(waitUntil([&] { return m.tray.toolTip().contains(moved); }, 5000),
                 qPrintable(m.tray.toolTip()));
        qInfo("after the route moved: %s", qPrintable(m.tray.toolTip().section('\n', -1)));

        // The window counted the host's requests, and only those.
        m.window.Command1_Click();
        QTest::qWait(300);
        qInfo("%g requests to the host counted, %d reached the router's forwarding, %d echo "
              "requests to the router itself",
              m.window.sentCount(), counted("toHost"), counted("toRouter"));
        QCOMPARE(m.window.sentCount(), double(counted("toHost")));
        QVERIFY(counted("toRouter") > 0);
        QVERIFY(m.window.recvCount() < m.window.sentCount());
    }

    // The gateway itself, and this machine: nothing more is sent, and the
    // tooltip names no gateway.
    void aHostWithoutAGatewayIsPingedAlone()
    {
        for (const QString host : {"192.0.2.1", "127.0.0.1"}) {
            Monitor m;
            m.start(host);
            QVERIFY(waitUntil([&] { return m.window.recvCount() >= 20; }, 5000));
            m.window.Command1_Click();
            QTest::qWait(300);
            QVERIFY2(!m.tray.toolTip().contains("Gateway"), qPrintable(m.tray.toolTip()));
            QVERIFY(m.gateway.name().isEmpty());
            if (host == "192.0.2.1")
                QCOMPARE(double(counted("toRouter")), m.window.sentCount());
        }
        QCOMPARE(counted("toHost"), 0);
    }
};

QTEST_MAIN(TestGateway)
#include "test_gateway.moc"
