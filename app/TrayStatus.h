#pragma once

#include "Desktop.h"
#include "LossWatch.h"
#include "OutageWatch.h"
#include "RunFigures.h"
#include "SlowWatch.h"

#include <QElapsedTimer>
#include <QMenu>
#include <QTimer>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

class GatewayWatch;
class QSystemTrayIcon;
class ReportSaver;
class frmPing;

// One line of the tray's tooltip, and how soon a shortened tooltip leaves
// it out: the highest rank first.
struct ToolTipLine {
    QString text;
    int rank = 0;
};
// The lines joined, at most `length` characters long where the system cuts
// tooltips there (none for 0): the highest-ranked left out first, then the
// first shortened in the middle.
QString fittedToolTip(QList<ToolTipLine> lines, int length);

// The window's news for a user who is not looking at it: a tray icon that
// shows the newest samples as a small graph, with the figures in its
// tooltip and a menu, and notifications: when the host stops answering and
// answers again, becomes slow and fast again, begins and stops losing
// replies (each kind as the menu's "Notify when" asks), and when the engine
// gives up. Nothing at all where the desktop has no tray or no notification
// service. It knows the run from what the window publishes alone.
class TrayStatus : public QObject {
    Q_OBJECT

  public:
    // With `reports`, the menu also saves the run's report; with `gateway`,
    // the tooltip and the notices tell of the host's gateway too.
    explicit TrayStatus(frmPing &window, ReportSaver *reports = nullptr,
                        GatewayWatch *gateway = nullptr);
    ~TrayStatus() override;

    QSystemTrayIcon *trayIcon() const { return tray_.get(); }
    // What the icon and its tooltip show now.
    QIcon icon() const;
    QString toolTip();

  private:
    void createTray();
    void published(const RunUpdate &update);
    void samplesShown(const std::vector<RunSample> &added);
    void outageJudged(const RunSample &sample, OutageWatch::Clock::time_point now);
    bool gatewayAnswered() const;
    void tellHeldOutage();
    QString gatewayToo(bool slowness) const;
    void refresh();
    void redraw();
    void showWindow();
    // Whether it was sent: nothing is while the window is the active one,
    // or when the user asked for none of its kind.
    bool notify(QAction *wanted, const QString &topic, const QString &summary, const QString &body);
    QString host() const;
    QString spread();
    // Everything the tooltip is made from: it is made anew only when that
    // changes, as making it costs more than a request does.
    using TipFacts = std::tuple<bool, std::string, std::optional<int32_t>, std::optional<int32_t>,
                                int32_t, std::optional<int16_t>, double, QString, QString>;
    TipFacts tipFacts();

    frmPing &window_;
    const RunFigures &figures_;
    GatewayWatch *gateway_ = nullptr;
    std::unique_ptr<QSystemTrayIcon> tray_;
    QMenu menu_;
    QAction *startStop_ = nullptr;
    QAction *notifyOutages_ = nullptr;
    QAction *notifySlow_ = nullptr;
    QAction *notifyLosses_ = nullptr;
    Notifications notifications_;
    OutageWatch outages_;
    SlowWatch slowness_;
    LossWatch losses_;
    bool outageNotified_ = false;
    // An outage notice waiting for the gateway to tell which side the fault is on.
    struct HeldOutage {
        QString body;
        OutageWatch::Clock::time_point since; // the gateway's requests from then on
        OutageWatch::Clock::time_point heldAt;
    };
    std::optional<HeldOutage> heldOutage_;
    QTimer heldCheck_;
    bool slowNotified_ = false;
    bool lossNotified_ = false;
    QTimer redrawTimer_;  // the next redraw, at most twice a second
    QElapsedTimer drawn_; // since the last one
    // What the last one showed: the tooltip's facts, and where the icon was
    // the graph, the history's counts and the samples the widest icon shows.
    std::optional<TipFacts> drawnTipFacts_;
    QString spread_; // the tooltip's jitter line, and when it was worked out
    QElapsedTimer spreadAt_;
    bool iconDrawn_ = false;
    std::optional<std::pair<uint64_t, uint64_t>> drawnMoves_;
    using IconSamples = std::array<int16_t, 64>; // 32 pixels at twice the scale
    std::optional<IconSamples> drawnSamples_;
};
