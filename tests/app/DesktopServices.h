#pragma once

// The desktop's services as the tests start and watch them, on the session
// bus that with-desktop.sh provides.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QWidget>

inline bool onBus(const QString &name)
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(name);
}

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

// The notification server, started as a session starts it, once it serves.
struct NotificationServer : Service {
    NotificationServer() : Service("dunst") {}
    bool serves()
    {
        return QTest::qWaitFor([] { return onBus("org.freedesktop.Notifications"); }, 5000);
    }
};

// Another program's window, active: the program's notices go out only
// while its window is not the one the user looks at.
inline bool lookElsewhere(QWidget &elsewhere)
{
    elsewhere.show();
    elsewhere.activateWindow();
    return QTest::qWaitFor([&] { return elsewhere.isActiveWindow(); });
}

inline const QString watcher = "org.kde.StatusNotifierWatcher";
inline const QString itemInterface = "org.kde.StatusNotifierItem";

// A panel's end of StatusNotifierItem, on a connection of its own: it
// registers as the host and reads the items the watcher lists.
struct ItemHost {
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "host");
    const QString name = "org.kde.StatusNotifierHost-test";
    ~ItemHost() { QDBusConnection::disconnectFromBus(bus.name()); }

    // Waits with the event loop running, so that the program, in this
    // process, answers. Not QDBus::BlockWithGui: in Qt 6.4 a reply that
    // comes before its event loop starts never ends that loop, and a busy
    // machine hung the test in one.
    QDBusMessage call(const QString &service, const QString &path, const QString &interface,
                      const QString &method, const QVariantList &arguments = {})
    {
        auto message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        constexpr int timeoutMs = 5000;
        const QDBusPendingCall pending = bus.asyncCall(message, timeoutMs);
        if (!QTest::qWaitFor([&] { return pending.isFinished(); }, timeoutMs + 1000))
            return QDBusMessage::createError(QDBusError::Timeout, "no answer in time");
        return pending.reply();
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

// What the notification server was asked to show, and the number it gave
// each, as dbus-monitor saw them on the session bus.
struct NotificationLog {
    struct Notice {
        uint id = 0; // the server's number for it
        uint replaces = 0;
        QString sender; // the application's name, icon and desktop entry
        QString icon;
        QString desktopEntry;
        QString summary;
        QString body;
        qint64 atMs = 0; // on the log's clock
        uint serial = 0; // the call's on the bus
    };
    QList<Notice> notices;
    QProcess monitor;
    QElapsedTimer clock; // from the log's start
    QByteArray pending;
    int strings = 0;
    QString hint;     // the last string, which names the hint that follows
    uint replyTo = 0; // the call a method return answers
    Notice reading;   // the one whose call is being read
    bool readingNotify = false;

    NotificationLog()
    {
        clock.start();
        QObject::connect(&monitor, &QProcess::readyReadStandardOutput, [this] { read(); });
        monitor.start(
            "dbus-monitor",
            {"--session",
             "type='method_call',interface='org.freedesktop.Notifications',member='Notify'",
             "type='method_return'"});
        monitor.waitForStarted();
    }
    ~NotificationLog()
    {
        monitor.kill();
        monitor.waitForFinished();
    }
    // The notices whose summary ends with `ending`.
    QList<Notice> about(const QString &ending) const
    {
        QList<Notice> found;
        for (const Notice &n : notices)
            if (n.summary.endsWith(ending))
                found << n;
        return found;
    }
    void read()
    {
        static const QRegularExpression serial(" serial=(\\d+)");
        static const QRegularExpression replySerial("reply_serial=(\\d+)");
        pending += monitor.readAllStandardOutput();
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(pending.left(end)).trimmed();
            pending.remove(0, end + 1);
            // A notice joins the list once its body is read: a test that sees
            // it there sees its words.
            if (line.startsWith("method call") && line.contains("member=Notify")) {
                reading = Notice{};
                reading.atMs = clock.elapsed();
                reading.serial = serial.match(line).captured(1).toUInt();
                strings = 0;
                readingNotify = true;
                replyTo = 0;
            } else if (line.startsWith("method return")) {
                replyTo = replySerial.match(line).captured(1).toUInt();
                readingNotify = false;
            } else if (line.startsWith("uint32 ") && replyTo) {
                for (Notice &n : notices)
                    if (n.serial == replyTo)
                        n.id = line.mid(7).toUInt();
                replyTo = 0;
            } else if (!readingNotify) {
                continue;
            } else if (line.startsWith("uint32 ") && strings == 1) {
                reading.replaces = line.mid(7).toUInt();
            } else if (line.startsWith("string ")) {
                const QString text = line.mid(8).chopped(1);
                QString *fields[] = {&reading.sender, &reading.icon, &reading.summary,
                                     &reading.body};
                if (strings < 4)
                    *fields[strings] = text;
                if (++strings == 4)
                    notices << reading;
                hint = text;
            } else if (line.startsWith("variant") && hint == "desktop-entry" && strings > 4) {
                notices.last().desktopEntry = line.section('"', 1, 1);
            }
        }
    }
};
