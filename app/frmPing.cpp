#include "frmPing.h"

#include "FailureLine.h"
#include "FailureText.h"
#include "GraphBand.h"
#include "HostBox.h"
#include "NumberText.h"
#include "PushButton.h"
#include "ReplyStats.h"
#include "ValueLabel.h"
#include "WindowLook.h"

#include <QCheckBox>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr int clientWidth = 397;
constexpr int clientHeight = 109;
const char *const caption = "Lagoscope for Windows! Version 1.01";
const char *const totalLossTip = "Packet loss total.";
// About 30 frames a second: smooth for a graph that moves one bar per reply,
// and a third of the frames at 100 replies a second.
constexpr auto framePeriod = std::chrono::microseconds(33'333);
// Numbering starts over at 1 once more than this many requests went out: a
// sequence number, not the loss marker, whatever the lag scale.
constexpr int restartAfter = 1000;

double readNumber(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    return ::readNumber(std::string_view(utf8.constData(), size_t(utf8.size())));
}

QLabel *addLabel(QWidget *parent, const char *name, const QString &text, QRect geometry)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setGeometry(geometry);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

} // namespace

frmPing::frmPing(EchoEngine &engine, Beep beep, const QString &commandLine, QWidget *parent)
    : QWidget(parent), Ping1(engine), beep_(std::move(beep)), commandLine_(commandLine),
      frames_(*this, framePeriod, [this] { showGraph(); })
{
    setObjectName("frmPing");
    setWindowTitle(caption);
    setFixedSize(clientWidth, clientHeight);
    // paintEvent covers every pixel from the drawing, background included.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFont(windowFont());
    createControls();

    connect(HostName, &HostBox::gotFocus, this, &frmPing::HostName_GotFocus);
    connect(HostName, &HostBox::keyPress, this, &frmPing::HostName_KeyPress);
    connect(Command1, &QPushButton::clicked, this, &frmPing::Command1_Click);
    connect(&Ping1, &EchoEngine::requestSent, this, &frmPing::Ping1_RequestSent);
    connect(&Ping1, &EchoEngine::replyReceived, this, &frmPing::Ping1_Reply);
    connect(&Ping1, &EchoEngine::requestLost, this, &frmPing::Ping1_Lost);
    connect(&Ping1, &EchoEngine::requestFailed, this, &frmPing::Ping1_Failed);
    connect(&Ping1, &EchoEngine::stoppedSending, this, &frmPing::Ping1_Stopped);

    Form_Load();
}

void frmPing::createControls()
{
    // Positions in pixels of the client area; only the host box and the
    // button take the focus, in that order.
    Label1 = addLabel(this, "Label1", "&IP/Host:", {8, 10, 49, 13});
    HostName = new HostBox(this);
    HostName->setObjectName("HostName");
    HostName->setGeometry(64, 8, 233, 19);
    Label1->setBuddy(HostName);
    Command1 = new PushButton(this);
    Command1->setObjectName("Command1");
    Command1->setGeometry(304, 8, 89, 17);
    Command1->setAutoDefault(false);

    Label2 = addLabel(this, "Label2", "Packets Sent:", {8, 32, 81, 13});
    SendLabel = addValue(Label2, "SendLabel", {96, 32, 65, 13});
    Label4 = addLabel(this, "Label4", "Received:", {168, 32, 59, 13});
    RecvLabel = addValue(Label4, "RecvLabel", {232, 32, 65, 13});
    Label5 = addLabel(this, "Label5", "Loss:", {304, 32, 31, 13});
    Label5->setToolTip(totalLossTip);
    LossLabel = addValue(Label5, "LossLabel", {344, 32, 39, 13});
    LossLabel->setToolTip(totalLossTip);

    Label3 = addLabel(this, "Label3", "Average ping:", {8, 48, 80, 13});
    avping = addValue(Label3, "avping", {96, 48, 64, 13});
    Label6 = addLabel(this, "Label6", "Current ping:", {168, 48, 74, 13});
    cping = addValue(Label6, "cping", {248, 48, 65, 13});
    Label8 = addLabel(this, "Label8", "Loss:", {304, 48, 31, 13});
    wndLoss = addValue(Label8, "wndLoss", {344, 48, 39, 13});

    // The graph for screen readers, as a summary; the band lies under the
    // credit lines.
    graphBand_ = new GraphBand(history_, this);

    Label7 = addLabel(this, "Label7", "Continuous ping with a lag graph.", {72, 72, 265, 17});
    Label9 = addLabel(this, "Label9", "Type a host, then press Start.", {96, 88, 225, 17});
    // What went wrong, where the credit lines stand and over the graph, so
    // that it is read at once.
    failureLine_ = new FailureLine({8, 72, 381, 33}, this);

    // Kept only because Start reads it; it lies below the client area.
    Check1 = new QCheckBox("Synchronous", this);
    Check1->setObjectName("Check1");
    Check1->setGeometry(16, 272, 105, 17);
    Check1->setFocusPolicy(Qt::NoFocus);
    Check1->hide();

    setTabOrder(HostName, Command1);
    HostName->setFocus();
}

// A value label, which the window paints; screen readers hear it with its
// caption.
ValueLabel *frmPing::addValue(QLabel *caption, const char *name, const QRect &geometry)
{
    auto *label = new ValueLabel(geometry, this);
    label->setObjectName(name);
    caption->setBuddy(label);
    values_.push_back(label);
    return label;
}

void frmPing::Form_Load()
{
    Ping1.setInterval(100);
    Command1->setText("Start");
    HostName->setText(commandLine_);
    Check1->setChecked(false);
    Ping1.setSynchronous(true);
    Ping1.setRunning(false);
    Ping1.setTimeout(2000);
    Ping1.setDontFragment(false);
    SendLabel->setValue("0");
    RecvLabel->setValue("0");
    LossLabel->setValue("0 %");
    history_.reset();
    showWindowSpan();
    turnOnPersistentDrawing();
    graphBand_->setGeometry(graph_.band());
    tekenLag();
    if (!commandLine_.isEmpty())
        Command1_Click();
}

void frmPing::Command1_Click()
{
    if (HostName->text().isEmpty()) {
        beep_();
        return;
    }
    Label7->hide();
    Label9->hide();
    RunFigures &figures = update_.figures;
    if (Ping1.running()) {
        Command1->setText("Start");
        Ping1.setRunning(false);
        Ping1.setRestartSequence(true);
        figures.pinging = false;
        publish(RunEvent::Stop);
    } else {
        counts_.start();
        failureLine_->clear();
        Command1->setText("Stop");
        const QString host = HostName->textWithoutSpaces();
        Ping1.setHost(host);
        Ping1.setRunning(true);
        Ping1.setSynchronous(Check1->isChecked());
        history_.reset();
        figures.pinging = true;
        figures.run += 1;
        figures.host = host.toStdString();
        figures.address.clear();
        publish(RunEvent::Start);
    }
}

void frmPing::tellUser(const QString &text)
{
    failureLine_->sayUntilCleared(text);
}

void frmPing::HostName_GotFocus()
{
    HostName->setText(HostName->textWithoutSpaces());
    HostName->setSelection(0, HostName->text().size());
}

void frmPing::HostName_KeyPress(qint16 &KeyAscii)
{
    if (KeyAscii != 13)
        return;
    KeyAscii = 0;
    const QString text = HostName->text();
    const bool payloadCommand = text.startsWith("P:");
    if (!payloadCommand && !text.startsWith("S:")) {
        Command1_Click();
        return;
    }
    const QString prefix = text.left(2);
    if (text.mid(2, 1) == "?") {
        // Read as a 32-bit integer in both cases: the same as the narrower
        // reading whenever the value fits it, and the value in force when not.
        const double value = payloadCommand ? Ping1.payloadSize() : Ping1.interval();
        HostName->setText(prefix + QString::fromStdString(decimalText(roundToInt32(value))));
        return;
    }
    const double value = readNumber(text.mid(2));
    if (value >= 10) {
        if (payloadCommand) {
            Ping1.setPayloadSize(value);
        } else {
            Ping1.setInterval(value);
            showWindowSpan();
            publish(RunEvent::Interval);
        }
        beep_();
    }
}

void frmPing::Ping1_RequestSent()
{
    counts_.requestSent();
    update_.figures.sent = counts_.shownSent();
    // Compared as it stands: no conversion on every request.
    if (const QString address = Ping1.address();
        !address.isEmpty() && address != QLatin1StringView(update_.figures.address))
        update_.figures.address = address.toStdString();
    SendLabel->show(countText(counts_.shownSent()));
    // A refused send is reported right after this, in the same event.
    failureLine_->goUnlessSaidAgain();
    frames_.changed(true);
    publish(RunEvent::RequestSent);
}

// Read for the failure line alone: the counters and the graph already show
// what became of each request.
void frmPing::Ping1_Failed(int /*sequence*/, EchoFailure reason, int detail)
{
    const std::string text = failureText(reason, detail, Ping1.host().toStdString());
    if (!text.empty())
        failureLine_->say(QString::fromStdString(text));
    frames_.changed(false);
    publish(RunEvent::Failure);
}

// The engine gave up on the host text: the button offers Start again, and
// the beep that greets refused input says so.
void frmPing::Ping1_Stopped()
{
    Command1->setText("Start");
    beep_();
    frames_.changed(false);
    update_.figures.pinging = false;
    publish(RunEvent::GaveUp);
}

void frmPing::Ping1_Reply(qint16 seq, int /*value*/, qint32 time)
{
    counts_.replied();
    RecvLabel->show(countText(counts_.shownReceived()));
    failureLine_->say({});
    handleSample(seq, roundToInt16(time), {seq, true, time});
    update_.figures.currentMs = time;
    cping->show(msText(time));
    tekenLag();
    publish(RunEvent::Samples);
}

// A request the engine gave up on counts like a reply that took the loss
// marker's time, so a silent host shows red bars and its loss as it happens,
// not only when it answers again.
void frmPing::Ping1_Lost(qint16 seq)
{
    counts_.lost();
    RecvLabel->show(countText(counts_.shownReceived()));
    handleSample(seq, LagHistory::lossMarker, {seq, false, 0});
    tekenLag();
    publish(RunEvent::Samples);
}

// What a reply and a loss have in common: the total loss, the gap since the
// last one, the sample itself and the window statistics.
void frmPing::handleSample(qint16 seq, int16_t sample, const RunSample &added)
{
    Ping1.setRestartSequence(roundToInt16(Ping1.lastSequenceSent()) > restartAfter);

    RunFigures &figures = update_.figures;
    figures.received = counts_.shownReceived();
    figures.totalLossPercent = counts_.totalLossPercent();
    LossLabel->show(percentText(figures.totalLossPercent));

    const int missed = missedReplies(seq, lastSeq_);
    pushLag(LagHistory::lossMarker, missed);
    for (int i = missed; i > 0; --i)
        update_.added.push_back({seq - i, false, 0});
    pushLag(sample);
    update_.added.push_back(added);
    lastSeq_ = seq;

    const WindowStats stats = windowStats(history_);
    figures.averageMs = stats.average;
    figures.windowLossPercent = stats.lossPercent;
    avping->show(msText(stats.average));
    wndLoss->show(percentText(stats.lossPercent));
}

void frmPing::showWindowSpan()
{
    update_.figures.intervalMs = Ping1.interval();
    update_.figures.windowSpanSeconds = windowSpanSeconds(Ping1.interval());
    const QString tip = QString("Percent loss in last %1 seconds")
                            .arg(update_.figures.windowSpanSeconds, 0, 'f', 0);
    Label8->setToolTip(tip);
    wndLoss->setToolTip(tip);
}

void frmPing::publish(RunEvent event)
{
    update_.event = event;
    update_.figures.failure = failureLine_->said().toStdString();
    emit published(update_);
    update_.added.clear();
}

void frmPing::pushLag(int16_t value, int times)
{
    history_.pushRepeated(value, times);
}

// The graph is drawn into a buffer that the window paints from, so the
// drawing survives repaints and each frame draws only what changed since the
// last; it holds device pixels, so bars stay crisp on a scaled screen.
void frmPing::turnOnPersistentDrawing()
{
    graph_.setSurface(size(), devicePixelRatioF(), palette().color(QPalette::Window));
}

void frmPing::tekenLag()
{
    turnOnPersistentDrawing(); // anew only on a screen of another scale
    graph_.redraw();
    graphBand_->redrawn();
    frames_.changed(false);
}

// Puts what the drawing changed on the screen, before a frame: the band on
// screen moves with the drawing's, so only its newest columns are painted.
void frmPing::showGraph()
{
    const LagDrawing::Change change = graph_.takeUnshown();
    const QRect band = graph_.band();
    const qreal ratio = devicePixelRatioF();
    // At a fractional scale Qt may round the band's edges unlike the drawing.
    if (change.whole || (!change.none() && ratio != std::round(ratio))) {
        update(band);
    } else if (change.samples > 0) {
        // Qt moves the pixels where it can (on X, within the server) and
        // repaints the columns that come in, or else the whole band.
        scroll(-change.samples, 0, band);
    }
}

void frmPing::paintEvent(QPaintEvent *event)
{
    // A paint outside a frame (an exposure, a grab) shows the drawing up to
    // date; whatever of the band it did not cover catches up next frame.
    if (!graph_.takeUnshown().none())
        update(graph_.band());
    QPainter painter(this);
    const bool pieces = event->region().rectCount() > 1;
    for (const QRect &rect : event->region()) {
        // One rectangle at a time: Qt draws within a rectangle faster than
        // within a region of several.
        if (pieces)
            painter.setClipRect(rect);
        // A new value repaints its label alone, which covers all of it.
        if (std::none_of(values_.begin(), values_.end(),
                         [&](ValueLabel *value) { return value->geometry().contains(rect); }))
            graph_.paint(painter, rect);
        for (ValueLabel *value : values_)
            value->paintOnParent(painter, rect);
    }
}
