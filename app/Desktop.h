#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QSystemTrayIcon;

// What the desktop offers a program left running unwatched: a system tray
// and notifications. Each platform's own, in its folder.

// Whether the desktop has a system tray now. Asks without waiting, and
// without settling for the toolkit which tray protocol to speak.
bool trayPresent();

// Calls `arrived` from the event loop when a tray appears later (a panel
// started or restarted); the watch ends with `owner`.
void watchForTray(QObject *owner, std::function<void()> arrived);

// The desktop's notifications, each new one in place of the last one sent.
// Nothing is shown, printed or waited for where the desktop has none.
class Notifications : public QObject {
    Q_OBJECT

  public:
    // On some platforms notifications come from the tray icon, if there is one.
    explicit Notifications(QObject *parent = nullptr);
    void setTray(QSystemTrayIcon *tray) { tray_ = tray; }
    void show(const QString &summary, const QString &body);

  private:
    QSystemTrayIcon *tray_ = nullptr;
    unsigned lastId_ = 0; // the service's number for the last one, where it numbers them
};
