#include "TrayStatus.h"

#include "GatewayWatch.h"
#include "LagGraph.h"
#include "NumberText.h"
#include "ReplyStats.h"
#include "ReportSaver.h"
#include "frmPing.h"

#include <QApplication>
#include <QDateTime>
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

// A figure in the words of its label, or nothing where the label is blank.
template <typename T> QString shown(const std::optional<T> &value, std::string (*text)(int64_t))
{
    return value ? QString::fromStdString(text(*value)) : QString();
}

} // namespace

TrayStatus::TrayStatus(frmPing &window, ReportSaver *reports, GatewayWatch *gateway)
    : QObject(&window), window_(window), figures_(window.figures()), gateway_(gateway)
{
    menu_.addAction("Show window", this, &TrayStatus::showWindow);
    startStop_ = menu_.addAction("Start", &window_, &frmPing::Command1_Click);
    // For the life of the program: nothing is written anywhere.
    QMenu *when = menu_.addMenu("Notify when");
    for (auto [action, text] : {std::pair{&notifyOutages_, "The host stops answering"},
                                {&notifySlow_, "It is slow"},
                                {&notifyLosses_, "It loses replies"}}) {
        *action = when->addAction(text);
        (*action)->setCheckable(true);
        (*action)->setChecked(true);
    }
    if (reports)
        menu_.addAction("Save report\u2026", reports, &ReportSaver::ask);
    menu_.addSeparator();
    menu_.addAction("Quit", &window_, &QWidget::close);
    // The same word as the button: the menu does exactly what it does.
    connect(&menu_, &QMenu::aboutToShow, this,
            [this] { startStop_->setText(figures_.pinging ? "Stop" : "Start"); });

    heldCheck_.setInterval(100);
    connect(&heldCheck_, &QTimer::timeout, this, &TrayStatus::tellHeldOutage);
    if (gateway_) {
        connect(gateway_, &GatewayWatch::changed, this, &TrayStatus::tellHeldOutage);
        connect(gateway_, &GatewayWatch::changed, this, &TrayStatus::refresh);
    }
    redrawTimer_.setSingleShot(true);
    connect(&redrawTimer_, &QTimer::timeout, this, &TrayStatus::redraw);
    connect(&window_, &frmPing::published, this, &TrayStatus::published);

    // A host on the command line started pinging before this was made.
    if (figures_.pinging)
        published({RunEvent::Start, figures_, {}});
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
    drawnTipFacts_.reset();
    iconDrawn_ = false;
    redraw();
    tray_->show();
}

void TrayStatus::published(const RunUpdate &update)
{
    switch (update.event) {
    case RunEvent::Start:
        outages_.started(OutageWatch::Clock::now(), OutageWatch::Wall::now());
        slowness_.started();
        losses_.started();
        outageNotified_ = slowNotified_ = lossNotified_ = false;
        break;
    case RunEvent::Stop:
        outageNotified_ = false;
        break;
    case RunEvent::GaveUp:
        outageNotified_ = false;
        if (!update.figures.failure.empty())
            notify(nullptr, "stopped", "Lagoscope stopped pinging",
                   QString::fromStdString(update.figures.failure));
        break;
    case RunEvent::Samples:
        samplesShown(update.added);
        break;
    case RunEvent::RequestSent:
    case RunEvent::Failure:
    case RunEvent::Interval:
        return; // nothing the tray shows
    }
    refresh();
}

void TrayStatus::samplesShown(const std::vector<RunSample> &added)
{
    const auto now = OutageWatch::Clock::now();
    for (const RunSample &sample : added) {
        if (!sample.answered) {
            losses_.lost(now);
            continue;
        }
        if (const auto lossy = losses_.answered(now)) {
            if (lossy->losing)
                lossNotified_ = notify(notifyLosses_, "losses", host() + " is losing replies",
                                       QString("%1 % of the requests of the last 20 s lost.")
                                               .arg(roundToInt32(lossy->sharePercent)) +
                                           gatewayToo(false));
            else if (std::exchange(lossNotified_, false))
                notify(notifyLosses_, "losses", host() + " no longer loses replies",
                       "Losing replies for " + seconds(lossy->losingFor) + ".");
        }
        if (const auto slow = slowness_.answered(now, sample.roundTripMs)) {
            if (slow->slow)
                slowNotified_ = notify(notifySlow_, "slowness", host() + " is slow",
                                       QString("Median round trip %1 ms over the last 10 s; "
                                               "usually %2 ms.")
                                               .arg(roundToInt32(slow->medianMs))
                                               .arg(roundToInt32(slow->usualMs)) +
                                           gatewayToo(true));
            else if (std::exchange(slowNotified_, false))
                notify(notifySlow_, "slowness", host() + " is fast again",
                       "Slow for " + seconds(slow->slowFor) + ".");
        }
    }
    outageJudged(added.back(), now);
}

// By the notification's own sample: losses revealed by a reply's gap came
// with that reply, so the host was never silent for the outage rule.
void TrayStatus::outageJudged(const RunSample &sample, OutageWatch::Clock::time_point now)
{
    if (sample.answered) {
        if (heldOutage_) { // over before the gateway told which side it lay on
            heldOutage_.reset();
            heldCheck_.stop();
            outageNotified_ = false;
        }
        if (const auto back = outages_.answered(now, OutageWatch::Wall::now());
            back && outageNotified_) {
            notify(notifyOutages_, "outage", host() + " answers again",
                   QString("Silent for %1; %2 requests lost.")
                       .arg(seconds(back->silent))
                       .arg(back->lost));
        }
        outageNotified_ = false;
    } else if (const auto went =
                   outages_.lost(now, std::chrono::milliseconds(qint64(figures_.intervalMs)))) {
        losses_.silent();
        const QString since =
            QDateTime::fromSecsSinceEpoch(OutageWatch::Wall::to_time_t(went->lastHeard))
                .toString("HH:mm:ss");
        const QString body = "No reply since " + since + ".";
        if (!gatewayAnswered()) {
            outageNotified_ = notify(notifyOutages_, "outage", host() + " stopped answering", body);
            return;
        }
        // Told once the gateway's requests sent since the host fell silent
        // say whether it still answers: the one request of the host's after
        // its last reply may have left before the fault.
        heldOutage_ = HeldOutage{
            body, went->heard + std::chrono::milliseconds(qint64(figures_.intervalMs)), now};
        outageNotified_ = notifyOutages_->isChecked() && !window_.isActiveWindow();
        tellHeldOutage();
        if (heldOutage_)
            heldCheck_.start();
    }
}

bool TrayStatus::gatewayAnswered() const
{
    return gateway_ && !gateway_->summary().isEmpty();
}

void TrayStatus::tellHeldOutage()
{
    if (!heldOutage_)
        return;
    // The gateway's timeout and then some, in case it hands over nothing.
    constexpr auto longest = std::chrono::seconds(3);
    std::optional<bool> answers = gateway_ ? gateway_->answersSince(heldOutage_->since) : false;
    if (!answers && OutageWatch::Clock::now() - heldOutage_->heldAt < longest)
        return;
    const QString name = gateway_ ? gateway_->name() : QString();
    const QString side =
        answers.value_or(false)
            ? QString("Your gateway %1 still answers: the fault lies beyond your network.")
                  .arg(name)
            : QString("Your gateway %1 does not answer either: the fault is on your side of it.")
                  .arg(name);
    const QString body = heldOutage_->body + ' ' + side;
    heldOutage_.reset();
    heldCheck_.stop();
    outageNotified_ = notify(notifyOutages_, "outage", host() + " stopped answering", body);
}

// Where the host is slow or loses replies, whether its gateway does too.
QString TrayStatus::gatewayToo(bool slowness) const
{
    if (!gatewayAnswered())
        return {};
    const QString name = gateway_->name();
    if (slowness)
        return gateway_->slow()
                   ? QString(" Your gateway %1 is slow too: the fault is on your side of it.")
                         .arg(name)
                   : QString(" Your gateway %1 is not slow: the fault lies beyond your network.")
                         .arg(name);
    return gateway_->losing()
               ? QString(" Your gateway %1 loses replies too: the fault is on your side of it.")
                     .arg(name)
               : QString(" Your gateway %1 loses none: the fault lies beyond your network.")
                     .arg(name);
}

bool TrayStatus::notify(QAction *wanted, const QString &topic, const QString &summary,
                        const QString &body)
{
    // Its user is looking at the window.
    if (window_.isActiveWindow() || (wanted && !wanted->isChecked()))
        return false;
    notifications_.show(topic, summary, body);
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
    if (TipFacts facts = tipFacts(); facts != drawnTipFacts_) {
        drawnTipFacts_ = std::move(facts);
        tray_->setToolTip(toolTip());
    }
    // The history's counts tell whether the graph moved; its newest samples,
    // whether the icon would look otherwise (on a steady line it would not).
    const LagHistory &history = window_.lagHistory();
    std::optional<std::pair<uint64_t, uint64_t>> moved;
    if (figures_.pinging)
        moved = {history.pushes(), history.resets()};
    if (iconDrawn_ && moved == drawnMoves_)
        return;
    drawnMoves_ = moved;
    std::optional<IconSamples> samples;
    if (figures_.pinging) {
        samples.emplace();
        for (size_t i = 0; i < samples->size(); ++i)
            (*samples)[i] = history.slot(LagHistory::count - int(i));
    }
    if (iconDrawn_ && samples == drawnSamples_)
        return;
    drawnSamples_ = samples;
    iconDrawn_ = true;
    tray_->setIcon(icon());
}

QIcon TrayStatus::icon() const
{
    if (!figures_.pinging)
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

// The jitter and percentile line, worked out anew once a second at most: a
// pass over the history and a partial sort, for a tooltip read now and then.
QString TrayStatus::spread()
{
    constexpr int everyMs = 1000;
    if (!spreadAt_.isValid() || spreadAt_.elapsed() >= everyMs) {
        spread_ = QString::fromStdString(spreadText(window_.lagHistory()));
        spreadAt_.start();
    }
    return spread_;
}

TrayStatus::TipFacts TrayStatus::tipFacts()
{
    return {figures_.pinging,
            figures_.host,
            figures_.currentMs,
            figures_.averageMs,
            figures_.totalLossPercent,
            figures_.windowLossPercent,
            figures_.windowSpanSeconds,
            spread(),
            gateway_ ? gateway_->summary() : QString()};
}

// The host as handed to the engine.
QString TrayStatus::host() const
{
    return QString::fromStdString(figures_.host).trimmed();
}

QString TrayStatus::toolTip()
{
    const QString host = this->host();
    if (!figures_.pinging)
        return fittedToolTip(
            {{host.isEmpty() ? QString("Lagoscope") : "Lagoscope: " + host + " (stopped)", 0}},
            toolTipLength());
    // Ranked by what a shortened tooltip keeps longest.
    QList<ToolTipLine> lines{
        {"Lagoscope: " + host, 0},
        {"Current ping: " + shown(figures_.currentMs, msText), 1},
        {"Average ping: " + shown(figures_.averageMs, msText), 5},
        {QString("Loss: %1 total, %2 in last %3 seconds")
             .arg(QString::fromStdString(percentText(figures_.totalLossPercent)),
                  shown(figures_.windowLossPercent, percentText))
             .arg(figures_.windowSpanSeconds, 0, 'f', 0),
         2}};
    if (const QString spread = this->spread(); !spread.isEmpty())
        lines.append({spread, 4});
    if (const QString gateway = gateway_ ? gateway_->summary() : QString(); !gateway.isEmpty())
        lines.append({gateway, 3});
    return fittedToolTip(lines, toolTipLength());
}

QString fittedToolTip(QList<ToolTipLine> lines, int length)
{
    const auto joined = [&] {
        QStringList texts;
        for (const ToolTipLine &line : lines)
            texts << line.text;
        return texts.join('\n');
    };
    // The first line (the host's) shortened in the middle by `excess`
    // characters, as the window's failure line is, to `keep` at the least
    // (the ellipsis among them).
    const auto shortenFirst = [&](qsizetype excess, qsizetype keep) {
        QString &first = lines.first().text;
        const qsizetype size = std::max(first.size() - excess, keep);
        if (size >= first.size())
            return;
        const qsizetype halves = size - 1;
        first = first.left(halves - halves / 2) + QChar(0x2026) + first.right(halves / 2);
    };
    constexpr qsizetype hostLine = 40; // before any other line goes
    QString tip = joined();
    while (length > 0 && tip.size() > length && lines.size() > 1) {
        if (lines.first().text.size() > hostLine) {
            shortenFirst(tip.size() - length, hostLine);
        } else {
            lines.removeAt(std::max_element(lines.begin(), lines.end(),
                                            [](const ToolTipLine &a, const ToolTipLine &b) {
                                                return a.rank < b.rank;
                                            }) -
                           lines.begin());
        }
        tip = joined();
    }
    if (length > 0 && tip.size() > length) {
        shortenFirst(tip.size() - length, 2);
        tip = joined().left(length);
    }
    return tip;
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
