// The tray icon and the notifications against the services a desktop runs:
// a StatusNotifierItem watcher, an XEmbed tray and a notification server,
// each started here, on the display and private session bus that
// with-desktop.sh provides. The window runs on the real engine over a
// channel the test scripts.
#include "Desktop.h"
#include "FakeChannel.h"
#include "IcmpEngine.h"
#include "TrayStatus.h"
#include "frmPing.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>

#include <memory>

namespace {

const QString watcher = "org.kde.StatusNotifierWatcher";
const QString itemInterface = "org.kde.StatusNotifierItem";
constexpr QRgb green = qRgb(0, 0xC0, 0);
constexpr QRgb red = qRgb(0xC0, 0, 0);

// A desktop service, started as a panel or a session would, and ended with
// the test.
struct Service {
    QProcess process;
    explicit Service(const QString &program, const QStringList &arguments = {})
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(program, arguments);
    }
    ~Service()
    {
        process.terminate();
        if (!process.waitForFinished(2000))
            process.kill();
        process.waitForFinished(1000);
    }
};

bool onBus(const QString &name)
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(name);
}

// A panel's end of StatusNotifierItem, on a connection of its own: it
// registers as the host and reads the items the watcher lists.
struct ItemHost {
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "host");
    const QString name = "org.kde.StatusNotifierHost-test";
    ~ItemHost() { QDBusConnection::disconnectFromBus(bus.name()); }

    // Blocks with the event loop running, so that the program, in this
    // process, answers.
    QDBusMessage call(const QString &service, const QString &path, const QString &interface,
                      const QString &method, const QVariantList &arguments = {})
    {
        auto message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        return bus.call(message, QDBus::BlockWithGui, 5000);
    }
    // The watcher takes its name on the bus before it serves its object, and
    // calls in between find no object: a panel tries again.
    bool registerHost()
    {
        bus.registerService(name);
        QDBusMessage reply;
        for (int attempt = 0; attempt < 100; ++attempt, QTest::qWait(50)) {
            reply = call(watcher, "/StatusNotifierWatcher", watcher, "RegisterStatusNotifierHost",
                         {name});
            if (reply.type() == QDBusMessage::ReplyMessage)
                return true;
        }
        qWarning("the watcher refused the host: %s", qPrintable(reply.errorName()));
        return false;
    }
    QVariant property(const QString &service, const QString &path, const QString &interface,
                      const QString &property)
    {
        const QDBusMessage reply =
            call(service, path, "org.freedesktop.DBus.Properties", "Get", {interface, property});
        if (reply.type() != QDBusMessage::ReplyMessage)
            return {};
        return reply.arguments().first().value<QDBusVariant>().variant();
    }
    // The first item: its service and object path.
    std::pair<QString, QString> item()
    {
        const QStringList items =
            property(watcher, "/StatusNotifierWatcher", watcher, "RegisteredStatusNotifierItems")
                .toStringList();
        if (items.isEmpty())
            return {};
        const QString &entry = items.first();
        const qsizetype slash = entry.indexOf('/');
        if (slash < 0)
            return {entry, "/StatusNotifierItem"};
        return {entry.left(slash), entry.mid(slash)};
    }
    // The item's largest icon.
    QImage icon()
    {
        const auto [service, path] = item();
        QImage largest;
        for (const QImage &image :
             pixmaps(property(service, path, itemInterface, "IconPixmap").value<QDBusArgument>()))
            if (image.width() > largest.width())
                largest = image;
        return largest;
    }
    QString toolTip()
    {
        const auto [service, path] = item();
        const QDBusArgument tip =
            property(service, path, itemInterface, "ToolTip").value<QDBusArgument>();
        QString iconName;
        QString title;
        QString text;
        tip.beginStructure();
        tip >> iconName;
        pixmaps(tip);
        tip >> title >> text;
        tip.endStructure();
        return title;
    }
    // Images as the item sends them: ARGB32 pixels in network byte order.
    static QList<QImage> pixmaps(const QDBusArgument &argument)
    {
        QList<QImage> images;
        argument.beginArray();
        while (!argument.atEnd()) {
            int width = 0;
            int height = 0;
            QByteArray argb;
            argument.beginStructure();
            argument >> width >> height >> argb;
            argument.endStructure();
            if (argb.size() != qsizetype(width) * height * 4)
                continue;
            QImage image(width, height, QImage::Format_ARGB32);
            const auto *bytes = reinterpret_cast<const uchar *>(argb.constData());
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x, bytes += 4)
                    image.setPixel(x, y, qRgba(bytes[1], bytes[2], bytes[3], bytes[0]));
            images << image;
        }
        argument.endArray();
        return images;
    }
    QDBusMessage activate()
    {
        const auto [service, path] = item();
        return call(service, path, itemInterface, "Activate", {0, 0});
    }
};

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

// What the notification server was asked to show, as dbus-monitor saw it.
struct NotificationLog {
    struct Notice {
        uint replaces = 0;
        QString summary;
        qint64 atMs = 0; // on the test's clock
    };
    QList<Notice> notices;
    QProcess monitor;
    const QElapsedTimer &clock;
    QByteArray pending;
    int strings = 0;

    explicit NotificationLog(const QElapsedTimer &testClock) : clock(testClock)
    {
        QObject::connect(&monitor, &QProcess::readyReadStandardOutput, [this] { read(); });
        monitor.start("dbus-monitor", {"--session", "type='method_call',interface='org.freedesktop."
                                                    "Notifications',member='Notify'"});
        monitor.waitForStarted();
    }
    ~NotificationLog()
    {
        monitor.kill();
        monitor.waitForFinished();
    }
    void read()
    {
        pending += monitor.readAllStandardOutput();
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(end)).trimmed();
            pending.remove(0, end + 1);
            if (line.startsWith("method call") && line.contains("member=Notify")) {
                notices << Notice{.replaces = 0, .summary = {}, .atMs = clock.elapsed()};
                strings = 0;
            } else if (!notices.isEmpty() && line.startsWith("uint32 ") && strings == 1) {
                notices.last().replaces = line.mid(7).toUInt();
            } else if (!notices.isEmpty() && line.startsWith("string ")) {
                if (++strings == 3)
                    notices.last().summary = line.mid(8).chopped(1);
            }
        }
    }
};

// The window on the real engine, and its tray, made once a test has set up
// the desktop it wants.
struct Program {
    FakeChannel *channel = new FakeChannel;
    IcmpEngine engine{onlyV4(channel)};
    frmPing window{engine, [] {}, {}};
    TrayStatus tray{window, engine};

    void start()
    {
        window.findChild<QLineEdit *>("HostName")->setText("127.0.0.1");
        window.Command1_Click();
    }
};

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

        Program p;
        QVERIFY(p.tray.trayIcon());
        QTRY_VERIFY_WITH_TIMEOUT(!host.item().first.isEmpty(), 5000);
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
        QVERIFY(tip.contains(" % total, ") && tip.contains(" % in last 37 seconds"));

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
        Program p;
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
            Program p;
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
        Service server("dunst");
        QTRY_VERIFY_WITH_TIMEOUT(onBus("org.freedesktop.Notifications"), 5000);
        QElapsedTimer clock;
        clock.start();
        NotificationLog log(clock);
        Program p;
        QWidget elsewhere; // the window the user is looking at instead
        elsewhere.show();
        elsewhere.activateWindow();
        QTRY_VERIFY(elsewhere.isActiveWindow());

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
        QCOMPARE(log.notices[0].summary, "127.0.0.1 stopped answering");
        QVERIFY(log.notices[0].atMs > silentFrom);
        // Silent is three losses in a row: the third request after the last
        // reply is found lost three intervals and a timeout later (2.3 s).
        QVERIFY(log.notices[0].atMs - lastBefore <=
                3 * p.engine.interval() + p.engine.timeout() + 500);
        QCOMPARE(log.notices[1].summary, "127.0.0.1 answers again");
        QVERIFY(log.notices[1].replaces != 0);
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
};

QTEST_MAIN(TestTray)
#include "test_tray.moc"
