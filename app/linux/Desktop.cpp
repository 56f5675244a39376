#include "Desktop.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QScreen>
#include <qpa/qplatformnativeinterface.h>

namespace {

const QString watcherService = "org.kde.StatusNotifierWatcher";
const QString watcherPath = "/StatusNotifierWatcher";
const QString notificationService = "org.freedesktop.Notifications";

QDBusConnection sessionBus()
{
    return QDBusConnection::sessionBus();
}

// A StatusNotifierItem host (a panel) has registered with the watcher.
bool itemHostRegistered()
{
    if (!sessionBus().isConnected() ||
        !sessionBus().interface()->isServiceRegistered(watcherService))
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(watcherService, watcherPath,
                                                      "org.freedesktop.DBus.Properties", "Get");
    get << watcherService << QString("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = sessionBus().call(get, QDBus::Block, 200);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().first().value<QDBusVariant>().variant().toBool();
}

// The XEmbed tray's window on X11. Asking also has the platform watch for a
// tray that comes later.
bool xembedTrayPresent()
{
    auto *native = QGuiApplication::platformNativeInterface();
    if (!native || QGuiApplication::platformName() != "xcb")
        return false;
    return native->nativeResourceForScreen("traywindow", QGuiApplication::primaryScreen());
}

} // namespace

// Tray hosts show what they are given, in a tooltip of their own.
int toolTipLength()
{
    return 0;
}

bool trayPresent()
{
    // The toolkit decides once per process whether to speak StatusNotifierItem,
    // so it is asked only once a tray is known to be there.
    return itemHostRegistered() || xembedTrayPresent();
}

namespace {

// Relays the two signs of a tray arriving: a StatusNotifierItem host
// registering, and the XEmbed tray's window changing.
class TrayArrival : public QObject {
    Q_OBJECT

  public:
    TrayArrival(QObject *owner, std::function<void()> arrived)
        : QObject(owner), arrived_(std::move(arrived))
    {
    }

  public slots:
    void hostRegistered() { arrived_(); }
    void trayWindowChanged(QScreen *) { arrived_(); }

  private:
    std::function<void()> arrived_;
};

} // namespace

void watchForTray(QObject *owner, std::function<void()> arrived)
{
    auto *arrival = new TrayArrival(owner, std::move(arrived));
    if (sessionBus().isConnected())
        sessionBus().connect({}, watcherPath, watcherService, "StatusNotifierHostRegistered",
                             arrival, SLOT(hostRegistered()));
    if (QGuiApplication::platformName() == "xcb") {
        xembedTrayPresent(); // has the platform watch the tray's window
        QObject::connect(QGuiApplication::platformNativeInterface(),
                         SIGNAL(systemTrayWindowChanged(QScreen *)), arrival,
                         SLOT(trayWindowChanged(QScreen *)));
    }
}

Notifications::Notifications(QObject *parent) : QObject(parent)
{
    askCapabilities();
}

// Asked again with every notice, so that a service started or changed later
// is heard. Until one answers, bodies are escaped: most services read markup.
void Notifications::askCapabilities()
{
    if (!sessionBus().isConnected())
        return;
    const QDBusMessage ask =
        QDBusMessage::createMethodCall(notificationService, "/org/freedesktop/Notifications",
                                       notificationService, "GetCapabilities");
    auto *reply = new QDBusPendingCallWatcher(sessionBus().asyncCall(ask), this);
    connect(reply, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        const QDBusPendingReply<QStringList> capabilities = *call;
        if (capabilities.isValid())
            bodyMarkup_ = capabilities.value().contains("body-markup");
        call->deleteLater();
    });
}

void Notifications::show(const QString &topic, const QString &summary, const QString &body)
{
    if (!sessionBus().isConnected())
        return;
    QDBusMessage notify = QDBusMessage::createMethodCall(
        notificationService, "/org/freedesktop/Notifications", notificationService, "Notify");
    // The menu entry's name, which is also the icon's: the desktop's
    // per-application settings apply.
    const QString desktopEntry = QGuiApplication::desktopFileName();
    const QVariantMap hints{{"desktop-entry", desktopEntry}};
    notify << QGuiApplication::applicationDisplayName() << uint(lastIds_.value(topic))
           << desktopEntry << summary << (bodyMarkup_ ? body.toHtmlEscaped() : body)
           << QStringList() << hints << -1;
    auto *reply = new QDBusPendingCallWatcher(sessionBus().asyncCall(notify), this);
    connect(reply, &QDBusPendingCallWatcher::finished, this,
            [this, topic](QDBusPendingCallWatcher *call) {
                const QDBusPendingReply<uint> id = *call;
                if (id.isValid())
                    lastIds_[topic] = id.value();
                call->deleteLater();
            });
    askCapabilities();
}

#include "Desktop.moc"
