#include "Desktop.h"

#include <QSystemTrayIcon>

// The taskbar's notification area is always there; Qt shows the icon again
// when Explorer restarts.
bool trayPresent()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void watchForTray(QObject *, std::function<void()>) {}

Notifications::Notifications(QObject *parent) : QObject(parent) {}

// Windows shows a tray icon's message as a notification of its own, in
// place of the icon's last one.
void Notifications::show(const QString &summary, const QString &body)
{
    if (tray_ && tray_->isVisible())
        tray_->showMessage(summary, body, tray_->icon());
}
