// The tray icon and the notifications against the services a desktop runs:
// a StatusNotifierItem watcher, an XEmbed tray and a notification server,
// each started here, on the display and private session bus that
// with-desktop.sh provides. The window runs on the real engine over a
// channel the test scripts.
#include "Desktop.h"
#include "DesktopServices.h"
#include "FakeChannel.h"
#include "IcmpEngine.h"
#include "Program.h"
#include "TrayStatus.h"
#include "frmPing.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTextDocumentFragment>

#include <memory>

namespace {

constexpr QRgb green = qRgb(0, 0xC0, 0);
constexpr QRgb red = qRgb(0xC0, 0, 0);

// Counts the item's NewIcon signals, as a panel hears them.
struct NewIcons : QObject {
    Q_OBJECT

  public:
    int count = 0;
    explicit NewIcons(ItemHost &host)
    {
        host.bus.connect({}, {}, itemInterface, "NewIcon", this, SLOT(heard()));
    }

  public slots:
    void heard() { ++count; }
};

// The window on the real engine, and its tray, made once a test has set up
// the desktop it wants.
struct Pinger {
    FakeChannel *channel = new FakeChannel;
    IcmpEngine engine{onlyV4(channel)};
    frmPing window{engine, [] {}, {}};
    TrayStatus tray{window};

    void start()
    {
        window.findChild<QLineEdit *>("HostName")->setText("127.0.0.1");
        window.Command1_Click();
    }
};

// A property of an X window as the server holds it, read by xprop: the
// text of a string property, or the strings of a list ("a", "b").
QString xProperty(WId window, const char *name)
{
    QProcess xprop;
    xprop.start("xprop", {"-id", QString::number(window), name});
    if (!xprop.waitForFinished(5000))
        return "(xprop did not answer)";
    const QString said = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
    const QRegularExpressionMatch value =
        QRegularExpression(QString("^%1\\([A-Z0-9_]+\\) = (.*)$").arg(name)).match(said);
    if (!value.hasMatch())
        return said;
    QString text = value.captured(1);
    return text.startsWith('"') && text.count('"') == 2 ? text.mid(1, text.size() - 2) : text;
}

// Columns of one colour at the right of an icon, across its middle row.
int columnsFromRight(const QImage &icon, QRgb colour)
{
    int count = 0;
    for (int x = icon.width() - 1; x >= 0 && icon.pixel(x, icon.height() - 1) == colour; --x)
        ++count;
    return count;
}

} // namespace

class TestTray : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase()
    {
        QPixmap own(32, 32); // stands in for the program's icon
        own.fill(Qt::blue);
        QApplication::setWindowIcon(QIcon(own));
        Program::nameApplication();
    }

    void init()
    {
        if (!QFile::exists("/usr/bin/status-notifier-watcher") || !QFile::exists("/usr/bin/dunst"))
            QSKIP("the desktop's services are not installed (scripts/deps.sh test)");
    }

    // A panel that speaks StatusNotifierItem: the icon is the graph in
    // little, its tooltip the window's figures, and a click shows the window.
    void statusNotifierItem()
    {
        Service watching("status-notifier-watcher");
        QTRY_VERIFY_WITH_TIMEOUT(onBus(watcher), 5000);
        ItemHost host;
        QVERIFY(host.registerHost());

        Pinger p;
        QVERIFY(p.tray.trayIcon());
        QTRY_VERIFY_WITH_TIMEOUT(!host.item().first.isEmpty(), 5000);
        const auto [service, path] = host.item();
        QCOMPARE(host.property(service, path, itemInterface, "Title").toString(), "Lagoscope");

        // The caption as the X server holds it, where a panel and a window
        // manager read it, with nothing appended; the class that ties the
        // window to its menu entry.
        p.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&p.window));
        QGuiApplication::sync();
        for (const char *title : {"WM_NAME", "_NET_WM_NAME"})
            QCOMPARE(xProperty(p.window.winId(), title), "Lagoscope for Windows! Version 1.01");
        QCOMPARE(xProperty(p.window.winId(), "WM_CLASS"), "\"test_tray\", \"Lagoscope\"");

        const QImage stopped = host.icon();
        QVERIFY(!stopped.isNull());
        QCOMPARE(columnsFromRight(stopped, green), 0);

        // At 100 replies a second, a loss in every four so that each one
        // changes the picture, the icon changes at most twice a second.
        NewIcons newIcons(host);
        for (uint16_t seq = 4; seq < 1000; seq += 4)
            p.channel->unanswered.insert(seq);
        p.channel->answerAtOnce = true;
        p.engine.setInterval(10);
        p.start();
        QTest::qWait(2000);
        qInfo("%d new icons in 2 s of 100 replies a second", newIcons.count);
        // Four at most in 2 s, and one for the start; a signal may still be
        // on its way on a slow machine.
        QVERIFY(newIcons.count >= 1 && newIcons.count <= 5);
        p.channel->unanswered.clear();
        p.engine.setInterval(100);
        QTRY_VERIFY_WITH_TIMEOUT(columnsFromRight(host.icon(), green) == host.icon().width(),
                                 10000);
        const QString tip = host.toolTip();
        qInfo("tooltip while answered: %s", qPrintable(QString(tip).replace('\n', " | ")));
        QVERIFY(tip.contains("127.0.0.1"));
        // The fake channel answers at once: the round trip is the event loop's
        // delay, which the machine's load sets.
        QVERIFY(
            tip.contains(QRegularExpression("\nCurrent ping: \\d+ ms\nAverage ping: \\d+ ms\n")));
        QVERIFY(tip.contains(" % total, ") && tip.contains(" % in last 37 seconds\n"));
        QVERIFY(tip.contains(QRegularExpression("\nJitter: \\d+ ms, 95th percentile: \\d+ ms$")));

        p.channel->answerAtOnce = false;
        p.engine.setTimeout(100);
        QTRY_VERIFY_WITH_TIMEOUT(columnsFromRight(host.icon(), red) >= 3, 5000);
        const QImage losing = host.icon();
        QVERIFY(columnsFromRight(losing, red) < losing.width()); // green further left
        QCOMPARE(losing.pixel(0, losing.height() - 1), green);

        p.window.showMinimized();
        // The X server's answer to the minimising must come before the
        // Activate call: arriving after it, it would minimise the window again.
        QGuiApplication::sync();
        QTRY_VERIFY(p.window.isMinimized());
        const QDBusMessage activated = host.activate();
        QVERIFY2(activated.type() == QDBusMessage::ReplyMessage,
                 qPrintable(activated.errorMessage()));
        QTRY_VERIFY2(!p.window.isMinimized() && p.window.isVisible(),
                     qPrintable(QString("window state %1, visible %2")
                                    .arg(int(p.window.windowState()))
                                    .arg(p.window.isVisible())));

        // The menu does what the button and closing the window do.
        const QList<QAction *> menu = p.tray.trayIcon()->contextMenu()->actions();
        emit p.tray.trayIcon()->contextMenu()->aboutToShow();
        QCOMPARE(menu[1]->text(), "Stop");
        QCOMPARE(menu[2]->text(), "Notify when");
        QStringList kinds;
        for (const QAction *kind : menu[2]->menu()->actions())
            kinds << kind->text() + (kind->isChecked() ? " (on)" : "");
        QCOMPARE(kinds, QStringList({"The host stops answering (on)", "It is slow (on)",
                                     "It loses replies (on)"}));
        menu[1]->trigger(); // the program's own icon again
        QVERIFY(!p.engine.running());
        QCOMPARE(p.window.findChild<QPushButton *>("Command1")->text(), "Start");
        QTRY_COMPARE_WITH_TIMEOUT(host.icon().pixel(0, host.icon().height() - 1) == green, false,
                                  2000);
        // Nothing changes while stopped: nothing is sent again.
        newIcons.count = 0;
        QTest::qWait(1200);
        QCOMPARE(newIcons.count, 0);
        menu.last()->trigger();
        QVERIFY(!p.window.isVisible());
    }

    // An XEmbed tray: the icon is embedded in it and shows the bars there
    // (a bar per column: replies over loopback are one-pixel marks).
    void xembedTray()
    {
        Service tray("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request",
                                "--height", "32", "--expand", "true", "--transparent", "false"});
        QTRY_VERIFY_WITH_TIMEOUT(trayPresent(), 5000); // its window has claimed the tray
        Pinger p;
        QVERIFY(p.tray.trayIcon());
        p.channel->answerAtOnce = true;
        p.start();
        QWidget *embedded = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (QWidget *w : QApplication::topLevelWidgets())
                    if (w->inherits("QSystemTrayIconSys") && w->isVisible())
                        embedded = w;
                return embedded != nullptr;
            }(),
            5000);
        // On the screen, where the tray put it: bars of the graph's green,
        // or near it where the tray scales the icon.
        const auto greenOnScreen = [&] {
            const QRect where(embedded->mapToGlobal(QPoint(0, 0)), embedded->size());
            const QImage shown =
                QGuiApplication::primaryScreen()
                    ->grabWindow(0, where.x(), where.y(), where.width(), where.height())
                    .toImage();
            int count = 0;
            for (int x = 0; x < shown.width(); ++x) {
                bool bar = false;
                for (int y = 0; y < shown.height() && !bar; ++y) {
                    const QRgb c = shown.pixel(x, y);
                    bar = qGreen(c) > 150 && qRed(c) < 60 && qBlue(c) < 60;
                }
                count += bar;
            }
            return count;
        };
        QTRY_VERIFY_WITH_TIMEOUT(greenOnScreen() >= 8, 5000);
        qInfo("icon embedded at %dx%d, %d green columns on the screen", embedded->width(),
              embedded->height(), greenOnScreen());
    }

    // Without a tray nothing shows or complains; a panel started later
    // gets the icon.
    void noTrayThenAPanelStarts()
    {
        int warnings = 0;
        static int *counted = &warnings;
        const auto previous =
            qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &) {
                *counted += type != QtInfoMsg && type != QtDebugMsg;
            });
        {
            Pinger p;
            p.channel->answerAtOnce = true;
            p.start();
            QTRY_VERIFY(p.window.recvCount() >= 5);
            QVERIFY(!p.tray.trayIcon());

            Service watching("status-notifier-watcher");
            QTRY_VERIFY_WITH_TIMEOUT(onBus(watcher), 5000);
            ItemHost host;
            QVERIFY(host.registerHost());
            QTRY_VERIFY_WITH_TIMEOUT(p.tray.trayIcon() != nullptr, 5000);
            QTRY_VERIFY_WITH_TIMEOUT(!host.item().first.isEmpty(), 5000);
        }
        qInstallMessageHandler(previous);
        QCOMPARE(warnings, 0);
    }

    // Against a notification server: a host silent for 5 s is told once,
    // and its return once, in place of the first; a single loss is not
    // told, and nothing is while the window is the active one.
    void outagesAreNotified()
    {
        NotificationServer server;
        QVERIFY(server.serves());
        NotificationLog log;
        const QElapsedTimer &clock = log.clock;
        Pinger p;
        QWidget elsewhere; // the window the user is looking at instead
        QVERIFY(lookElsewhere(elsewhere));

        qint64 lastReplyMs = 0;
        qint64 firstReplyBackMs = 0;
        bool silent = false;
        connect(&p.engine, &EchoEngine::replyReceived, this, [&] {
            lastReplyMs = clock.elapsed();
            if (silent && !firstReplyBackMs)
                firstReplyBackMs = lastReplyMs;
        });
        p.channel->answerAtOnce = true;
        p.channel->unanswered = {10}; // a single lost reply
        p.start();
        QTRY_VERIFY_WITH_TIMEOUT(p.window.recvCount() >= 40, 10000);
        QVERIFY(p.window.lagHistory().slot(LagHistory::count - int(p.window.recvCount()) + 9) ==
                LagHistory::lossMarker);

        p.channel->answerAtOnce = false;
        silent = true;
        const qint64 silentFrom = clock.elapsed();
        QTest::qWait(5000);
        const qint64 lastBefore = lastReplyMs;
        p.channel->answerAtOnce = true;
        const qint64 answeredAgain = clock.elapsed();
        QTRY_VERIFY_WITH_TIMEOUT(log.notices.size() >= 2, 3000);
        QTest::qWait(500);
        for (const auto &n : log.notices)
            qInfo("notification \"%s\" replacing %u, %lld ms after the last reply",
                  qPrintable(n.summary), n.replaces, n.atMs - lastBefore);
        QCOMPARE(log.notices.size(), 2);
        for (const auto &n : log.notices) {
            QCOMPARE(n.sender, "Lagoscope");
            QCOMPARE(n.icon, "org.lagoscope.Lagoscope");
            QCOMPARE(n.desktopEntry, "org.lagoscope.Lagoscope");
        }
        QCOMPARE(log.notices[0].summary, "127.0.0.1 stopped answering");
        QVERIFY(log.notices[0].atMs > silentFrom);
        // Silent is three losses in a row: the third request after the last
        // reply is found lost three intervals and a timeout later (2.3 s).
        QVERIFY(log.notices[0].atMs - lastBefore <=
                3 * p.engine.interval() + p.engine.timeout() + 500);
        QCOMPARE(log.notices[1].summary, "127.0.0.1 answers again");
        QVERIFY(log.notices[0].id != 0);
        QCOMPARE(log.notices[1].replaces, log.notices[0].id);
        qInfo("answering again at %lld ms, the first reply handed over at %lld ms, told at %lld ms",
              answeredAgain, firstReplyBackMs, log.notices[1].atMs);
        QVERIFY(firstReplyBackMs >= answeredAgain);
        QVERIFY(log.notices[1].atMs - firstReplyBackMs <= 500);

        // The same outage while the user looks at the window: nothing.
        p.window.show();
        p.window.activateWindow();
        QTRY_VERIFY(p.window.isActiveWindow());
        p.channel->answerAtOnce = false;
        QTest::qWait(3500);
        p.channel->answerAtOnce = true;
        QTest::qWait(500);
        QCOMPARE(log.notices.size(), 2);
    }

    // A body reaches the screen as written, where the server reads markup:
    // a failure's words carry the host the user typed.
    void aNoticeBodyIsShownAsWritten()
    {
        NotificationServer server;
        QVERIFY(server.serves());
        const QString body = "Cannot find host a<b>c&d\"";
        Notifications notifications;
        notifications.show("stopped", "Lagoscope stopped pinging", body);
        // What the server shows, in the markup it hands its renderer.
        const auto shown = [] {
            QProcess::execute("dunstctl", {"close-all"});
            QProcess history;
            history.start("dunstctl", {"history"});
            history.waitForFinished(5000);
            const QJsonArray notices = QJsonDocument::fromJson(history.readAllStandardOutput())
                                           .object()["data"]
                                           .toArray()
                                           .first()
                                           .toArray();
            return notices.isEmpty() ? QString() : notices.first()["message"]["data"].toString();
        };
        QString message;
        QTRY_VERIFY_WITH_TIMEOUT(!(message = shown()).isEmpty(), 5000);
        const QString text = QTextDocumentFragment::fromHtml(message).toPlainText();
        QVERIFY2(text.endsWith(body), qPrintable("dunst shows: " + text));
    }
};

QTEST_MAIN(TestTray)
#include "test_tray.moc"
