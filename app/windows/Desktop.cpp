#include "Desktop.h"

#include <QSystemTrayIcon>

#include <windows.h>

#include <shellapi.h> // after windows.h, which it needs

#include <iterator>

// The shell keeps a tray icon's tooltip in NOTIFYICONDATA's szTip, with its
// terminating null, and Qt cuts what does not fit.
int toolTipLength()
{
    return int(std::size(NOTIFYICONDATAW{}.szTip)) - 1;
}

// The taskbar's notification area is always there; Qt shows the icon again
// when Explorer restarts.
bool trayPresent()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void watchForTray(QObject *, std::function<void()>) {}

Notifications::Notifications(QObject *parent) : QObject(parent) {}

// Windows shows a tray icon's message as a notification of its own, in
// place of the icon's last one, whatever its topic.
void Notifications::show(const QString &, const QString &summary, const QString &body)
{
    if (tray_ && tray_->isVisible())
        tray_->showMessage(summary, body, tray_->icon());
}
