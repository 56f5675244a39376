#include "TrayStatus.h"

#include "EchoEngine.h"
#include "LagGraph.h"
#include "frmPing.h"

#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QPushButton>
#include <QSystemTrayIcon>

namespace {

constexpr int redrawEveryMs = 500;
// The logical sizes trays ask for, drawn at 1x and 2x.
constexpr int iconSizes[] = {16, 22, 24, 32};
constexpr int iconScales[] = {1, 2};

QString seconds(OutageWatch::Clock::duration d)
{
    return QString::number(std::chrono::duration<double>(d).count(), 'f', 1) + " s";
}

} // namespace

TrayStatus::TrayStatus(frmPing &window, EchoEngine &engine)
    : QObject(&window), window_(window), engine_(engine)
{
    menu_.addAction("Show window", this, &TrayStatus::showWindow);
    startStop_ = menu_.addAction("Start", &window_, &frmPing::Command1_Click);
    menu_.addSeparator();
    menu_.addAction("Quit", &window_, &QWidget::close);
    // The same word as the button: the menu does exactly what it does.
    connect(&menu_, &QMenu::aboutToShow, this,
            [this] { startStop_->setText(window_.findChild<QPushButton *>("Command1")->text()); });

    redrawTimer_.setSingleShot(true);
    connect(&redrawTimer_, &QTimer::timeout, this, &TrayStatus::redraw);
    connect(&window_, &frmPing::sampleShown, this, &TrayStatus::sampleShown);
    connect(&window_, &frmPing::runningChanged, this, &TrayStatus::runningChanged);
    connect(&window_, &frmPing::gaveUp, this, &TrayStatus::gaveUp);

    // A host on the command line started pinging before this was made.
    runningChanged(engine_.running());
    if (trayPresent())
        createTray();
    else
        watchForTray(this, [this] {
            if (!tray_ && trayPresent())
                createTray();
        });
}

TrayStatus::~TrayStatus() = default;

void TrayStatus::createTray()
{
    tray_ = std::make_unique<QSystemTrayIcon>();
    tray_->setContextMenu(&menu_);
    connect(tray_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    showWindow();
            });
    notifications_.setTray(tray_.get());
    drawnState_.clear();
    redraw();
    tray_->show();
}

void TrayStatus::sampleShown(bool answered)
{
    const auto now = OutageWatch::Clock::now();
    if (answered) {
        if (const auto back = outages_.answered(now, OutageWatch::Wall::now());
            back && outageNotified_) {
            notify(engine_.host().trimmed() + " answers again",
                   QString("Silent for %1; %2 requests lost.")
                       .arg(seconds(back->silent))
                       .arg(back->lost));
        }
        outageNotified_ = false;
    } else if (const auto went =
                   outages_.lost(now, std::chrono::milliseconds(qint64(engine_.interval())))) {
        const QString since =
            QDateTime::fromSecsSinceEpoch(OutageWatch::Wall::to_time_t(went->lastHeard))
                .toString("HH:mm:ss");
        outageNotified_ = notify(engine_.host().trimmed() + " stopped answering",
                                 "No reply since " + since + ".");
    }
    refresh();
}

void TrayStatus::runningChanged(bool running)
{
    if (running && !running_)
        outages_.started(OutageWatch::Clock::now(), OutageWatch::Wall::now());
    running_ = running;
    outageNotified_ = false;
    refresh();
}

void TrayStatus::gaveUp(const QString &why)
{
    if (!why.isEmpty())
        notify("Lagoscope stopped pinging", why);
}

bool TrayStatus::notify(const QString &summary, const QString &body)
{
    // Its user is looking at the window.
    if (window_.isActiveWindow())
        return false;
    notifications_.show(summary, body);
    return true;
}

// At once when the last redraw is long enough ago, else when it will be.
void TrayStatus::refresh()
{
    if (!tray_ || redrawTimer_.isActive())
        return;
    const qint64 since = drawn_.isValid() ? drawn_.elapsed() : redrawEveryMs;
    if (since >= redrawEveryMs)
        redraw();
    else
        redrawTimer_.start(int(redrawEveryMs - since));
}

void TrayStatus::redraw()
{
    if (!tray_)
        return;
    drawn_.start();
    const QString tip = toolTip();
    QString state = tip;
    if (running_) {
        const LagHistory &history = window_.lagHistory();
        state.reserve(tip.size() + 64);
        for (int i = LagHistory::count - 63; i <= LagHistory::count; ++i)
            state += QChar(ushort(history.slot(i)));
    }
    if (state == drawnState_)
        return;
    drawnState_ = state;
    tray_->setIcon(icon());
    tray_->setToolTip(tip);
}

QIcon TrayStatus::icon() const
{
    if (!running_)
        return QApplication::windowIcon();
    QIcon icon;
    const QColor background = window_.palette().color(QPalette::Window);
    for (const int size : iconSizes)
        for (const int scale : iconScales) {
            QImage image(size * scale, size * scale, QImage::Format_RGB32);
            drawLagMiniature(image, window_.lagHistory(), background);
            image.setDevicePixelRatio(scale);
            icon.addPixmap(QPixmap::fromImage(image));
        }
    return icon;
}

QString TrayStatus::shown(const char *label) const
{
    return window_.findChild<QLabel *>(label)->text();
}

QString TrayStatus::toolTip() const
{
    const QString host = engine_.host().trimmed();
    if (!running_)
        return host.isEmpty() ? QString("Lagoscope") : "Lagoscope: " + host + " (stopped)";
    // The window's own words for the span of its loss ("in last 37 seconds").
    const QString span = window_.findChild<QLabel *>("wndLoss")->toolTip().remove("Percent loss ");
    return QString("Lagoscope: %1\nCurrent ping: %2\nAverage ping: %3\nLoss: %4 total, %5 %6")
        .arg(host, shown("cping"), shown("avping"), shown("LossLabel"), shown("wndLoss"), span);
}

void TrayStatus::showWindow()
{
    if (window_.isMinimized())
        window_.showNormal();
    else
        window_.show();
    window_.raise();
    window_.activateWindow();
}
