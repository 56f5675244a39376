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
#include <QEvent>
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

// The span the window-loss label covers: its samples at the interval in force.
QString windowLossTip(double intervalMs)
{
    const double seconds = std::floor(LagHistory::count * intervalMs / 1000);
    return QString("Percent loss in last %1 seconds").arg(seconds, 0, 'f', 0);
}

// Removes leading and trailing spaces, and only spaces.
QString trimSpaces(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first] == u' ')
        ++first;
    while (last > first && text[last - 1] == u' ')
        --last;
    return text.mid(first, last - first);
}

QString qText(const std::string &text)
{
    return QString::fromStdString(text);
}

// Rewrites a value label only when its text changes, so that an unchanged
// text costs neither a new string nor a repaint.
void showText(ValueLabel *label, const std::string &text)
{
    if (label->text() != QLatin1StringView(text.data(), qsizetype(text.size())))
        label->setValue(QString::fromLatin1(text.data(), qsizetype(text.size())));
}

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

ValueLabel *addValue(QWidget *parent, const char *name, QRect geometry)
{
    auto *label = new ValueLabel(geometry, parent);
    label->setObjectName(name);
    return label;
}

} // namespace

frmPing::frmPing(EchoEngine &engine, Beep beep, const QString &commandLine, QWidget *parent)
    : QWidget(parent), Ping1(engine), beep_(std::move(beep)), commandLine_(commandLine),
      pacer_(framePeriod)
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
    frameTimer_.setSingleShot(true);
    frameTimer_.setTimerType(Qt::PreciseTimer);
    connect(&frameTimer_, &QTimer::timeout, this, &frmPing::presentFrame);

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
    SendLabel = addValue(this, "SendLabel", {96, 32, 65, 13});
    Label4 = addLabel(this, "Label4", "Received:", {168, 32, 59, 13});
    RecvLabel = addValue(this, "RecvLabel", {232, 32, 65, 13});
    Label5 = addLabel(this, "Label5", "Loss:", {304, 32, 31, 13});
    Label5->setToolTip(totalLossTip);
    LossLabel = addValue(this, "LossLabel", {344, 32, 39, 13});
    LossLabel->setToolTip(totalLossTip);

    Label3 = addLabel(this, "Label3", "Average ping:", {8, 48, 80, 13});
    avping = addValue(this, "avping", {96, 48, 64, 13});
    Label6 = addLabel(this, "Label6", "Current ping:", {168, 48, 74, 13});
    cping = addValue(this, "cping", {248, 48, 65, 13});
    Label8 = addLabel(this, "Label8", "Loss:", {304, 48, 31, 13});

    wndLoss = addValue(this, "wndLoss", {344, 48, 39, 13});

    // Screen readers hear each value with its caption, and the graph as a
    // summary; the band lies under the credit lines.
    for (auto [caption, value] : {std::pair{Label2, SendLabel},
                                  {Label4, RecvLabel},
                                  {Label5, LossLabel},
                                  {Label3, avping},
                                  {Label6, cping},
                                  {Label8, wndLoss}})
        caption->setBuddy(value);
    graphBand_ = new GraphBand(history_, this);
    graphBand_->setGeometry(lagScale.bandLeft(), lagScale.graphTop, LagHistory::count,
                            lagScale.bandHeight());

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
    if (Ping1.running()) {
        Command1->setText("Start");
        Ping1.setRunning(false);
        Ping1.setRestartSequence(true);
        emit runningChanged(false);
    } else {
        sentCount_ = 0;
        recvCount_ = 0;
        showFailure({});
        Command1->setText("Stop");
        Ping1.setHost(trimSpaces(HostName->text()));
        Ping1.setRunning(true);
        Ping1.setSynchronous(Check1->isChecked());
        history_.reset();
        emit runningChanged(true);
    }
}

void frmPing::HostName_GotFocus()
{
    HostName->setText(trimSpaces(HostName->text()));
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
        HostName->setText(prefix + qText(decimalText(roundToInt32(value))));
        return;
    }
    const double value = readNumber(text.mid(2));
    if (value >= 10) {
        if (payloadCommand) {
            Ping1.setPayloadSize(value);
        } else {
            Ping1.setInterval(value);
            showWindowSpan();
        }
        beep_();
    }
}

void frmPing::Ping1_RequestSent()
{
    sentCount_ += 1;
    showText(SendLabel, countText(sentCount_));
    // A refused send is reported right after this, in the same event: the
    // line goes only if the event ends without it, so that it neither
    // flickers nor tells screen readers the same thing once per request.
    if (failureLine_->isVisible()) {
        failureStale_ = true;
        QMetaObject::invokeMethod(this, &frmPing::dropStaleFailure, Qt::QueuedConnection);
    }
    changed(true);
}

void frmPing::dropStaleFailure()
{
    if (failureStale_)
        showFailure({});
}

// Read for the failure line alone: the counters and the graph already show
// what became of each request.
void frmPing::Ping1_Failed(int /*sequence*/, int reason, int detail)
{
    const std::string text = failureText(EchoFailure(reason), detail, Ping1.host().toStdString());
    if (!text.empty())
        showFailure(QString::fromStdString(text));
    changed(false);
}

// The engine gave up on the host text: the button offers Start again, and
// the beep that greets refused input says so.
void frmPing::Ping1_Stopped()
{
    Command1->setText("Start");
    beep_();
    changed(false);
    emit gaveUp(failureLine_->said());
    emit runningChanged(false);
}

void frmPing::Ping1_Reply(qint16 seq, int /*value*/, qint32 time)
{
    recvCount_ += 1;
    showText(RecvLabel, countText(recvCount_));
    showFailure({});
    handleSample(seq, roundToInt16(time));
    showText(cping, msText(time));
    tekenLag();
    emit sampleShown(true);
}

// A request the engine gave up on counts like a reply that took the loss
// marker's time, so a silent host shows red bars and its loss as it happens,
// not only when it answers again.
void frmPing::Ping1_Lost(qint16 seq)
{
    // This run's count, as a reply would show it, before the total loss is
    // read from the labels: after a restart the label still holds the last
    // run's count, and a host silent since Start must read 100 %.
    showText(RecvLabel, countText(recvCount_));
    handleSample(seq, LagHistory::lossMarker);
    tekenLag();
    emit sampleShown(false);
}

// What a reply and a loss have in common: the total loss, the gap since the
// last one, the sample itself and the window statistics.
void frmPing::handleSample(qint16 seq, int16_t sample)
{
    Ping1.setRestartSequence(roundToInt16(Ping1.lastSequenceSent()) > restartAfter);

    // The counts as the labels show them, not the fields: after a Start the
    // sent label keeps the earlier run's count until the first request.
    const double sent = readNumber(SendLabel->text());
    if (sent > 1) {
        const double received = readNumber(RecvLabel->text());
        showText(LossLabel, percentText(totalLossPercent(sent, received)));
    }

    pushLag(LagHistory::lossMarker, missedReplies(seq, lastSeq_));
    pushLag(sample);
    lastSeq_ = seq;

    const WindowStats stats = windowStats(history_);
    showText(avping, msText(stats.average));
    showText(wndLoss, percentText(stats.lossPercent));
}

void frmPing::showWindowSpan()
{
    const QString tip = windowLossTip(Ping1.interval());
    Label8->setToolTip(tip);
    wndLoss->setToolTip(tip);
}

void frmPing::showFailure(const QString &text)
{
    failureStale_ = false;
    failureLine_->say(text);
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

// Only what tekenLag asked for: a Start empties the history but leaves the
// graph as it stood until the next sample.
void frmPing::followGraph() const
{
    if (graphAsked_)
        graphUnshown_ += graph_.follow(history_);
    graphAsked_ = false;
}

const QImage &frmPing::drawing() const
{
    followGraph();
    return graph_.image();
}

void frmPing::tekenLag()
{
    turnOnPersistentDrawing(); // anew only on a screen of another scale
    graphAsked_ = true;
    graphBand_->redrawn();
    changed(false);
}

// Puts what the drawing changed on the screen: the band on screen moves with
// the drawing's, so only its newest columns are painted.
void frmPing::showGraph()
{
    followGraph();
    const LagDrawing::Change change = std::exchange(graphUnshown_, {});
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
    followGraph();
    if (!graphUnshown_.none()) {
        graphUnshown_ = {};
        update(graph_.band());
    }
    QPainter painter(this);
    const auto values = {SendLabel, RecvLabel, LossLabel, avping, cping, wndLoss};
    const bool pieces = event->region().rectCount() > 1;
    for (const QRect &rect : event->region()) {
        // One rectangle at a time: Qt draws within a rectangle faster than
        // within a region of several.
        if (pieces)
            painter.setClipRect(rect);
        // A new value repaints its label alone, which covers all of it.
        if (std::none_of(values.begin(), values.end(),
                         [&](ValueLabel *value) { return value->geometry().contains(rect); }))
            graph_.paint(painter, rect);
        for (ValueLabel *value : values)
            value->paintOnParent(painter, rect);
    }
}

// Qt asks to repaint whatever changed; the pacer decides when.
bool frmPing::event(QEvent *event)
{
    if (event->type() != QEvent::UpdateRequest)
        return QWidget::event(event);
    if (!changesNoted_)
        pacer_.changed(FramePacer::Clock::now(), false); // typing, the cursor, the button
    scheduleFrame();
    return true;
}

// Called by each handler once it has made all its changes: a frame that is
// due is presented at once.
void frmPing::changed(bool mayWait)
{
    pacer_.changed(FramePacer::Clock::now(), mayWait);
    changesNoted_ = true;
    scheduleFrame();
}

void frmPing::scheduleFrame()
{
    const auto now = FramePacer::Clock::now();
    const auto due = pacer_.due();
    if (!due)
        frameTimer_.stop();
    else if (*due <= now)
        presentFrame();
    else
        frameTimer_.start(std::chrono::ceil<std::chrono::milliseconds>(*due - now));
}

void frmPing::presentFrame()
{
    const auto now = FramePacer::Clock::now();
    const auto due = pacer_.due();
    if (!due)
        return;
    if (*due > now) {
        scheduleFrame();
        return;
    }
    frameTimer_.stop();
    showGraph();
    QEvent sync(QEvent::UpdateRequest);
    QWidget::event(&sync); // paints what changed and hands it to the screen
    pacer_.presented(now);
    changesNoted_ = false;
}
