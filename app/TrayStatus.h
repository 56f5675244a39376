#pragma once

#include "Desktop.h"
#include "OutageWatch.h"

#include <QElapsedTimer>
#include <QMenu>
#include <QTimer>

#include <memory>

class EchoEngine;
class QSystemTrayIcon;
class frmPing;

// The window's news for a user who is not looking at it: a tray icon that
// shows the newest samples as a small graph, with the figures in its
// tooltip and a menu, and a notification when the host stops answering,
// when it answers again, and when the engine gives up. Nothing at all
// where the desktop has no tray or no notification service.
class TrayStatus : public QObject {
    Q_OBJECT

  public:
    TrayStatus(frmPing &window, EchoEngine &engine);
    ~TrayStatus() override;

    QSystemTrayIcon *trayIcon() const { return tray_.get(); }
    // What the icon and its tooltip show now.
    QIcon icon() const;
    QString toolTip() const;

  private:
    void createTray();
    void sampleShown(bool answered);
    void runningChanged(bool running);
    void gaveUp(const QString &why);
    void refresh();
    void redraw();
    void showWindow();
    // Whether it was sent: nothing is while the window is the active one.
    bool notify(const QString &summary, const QString &body);
    QString shown(const char *label) const;

    frmPing &window_;
    EchoEngine &engine_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    QMenu menu_;
    QAction *startStop_ = nullptr;
    Notifications notifications_;
    OutageWatch outages_;
    bool outageNotified_ = false;
    bool running_ = false;
    QTimer redrawTimer_;  // the next redraw, at most twice a second
    QElapsedTimer drawn_; // since the last one
    QString drawnState_;  // what the last one showed
};
