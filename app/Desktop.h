#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

class QSystemTrayIcon;

// What the desktop offers a program left running unwatched: a system tray
// and notifications. Each platform's own, in its folder.

// How long a tray icon's tooltip may be, in characters, where the system cuts
// it; 0 where it does not.
int toolTipLength();

// Whether the desktop has a system tray now. Asks without waiting, and
// without settling for the toolkit which tray protocol to speak.
bool trayPresent();

// Calls `arrived` from the event loop when a tray appears later (a panel
// started or restarted); the watch ends with `owner`.
void watchForTray(QObject *owner, std::function<void()> arrived);

// The desktop's notifications, each new one in place of the last one of its
// topic (a host silent, then answering again), where the desktop keeps
// several. Nothing is shown, printed or waited for where it has none.
class Notifications : public QObject {
    Q_OBJECT

  public:
    // On some platforms notifications come from the tray icon, if there is one.
    explicit Notifications(QObject *parent = nullptr);
    void setTray(QSystemTrayIcon *tray) { tray_ = tray; }
    void show(const QString &topic, const QString &summary, const QString &body);

  private:
    QSystemTrayIcon *tray_ = nullptr;
    // The service's number for the last one of each topic, where it numbers them.
    QHash<QString, unsigned> lastIds_;
    // Where the service reads a body as markup, text that looks like markup
    // (a host the user typed, in a failure) is escaped to show as written.
    bool bodyMarkup_ = true;
    void askCapabilities();
};
