#pragma once

// The window on the real engine, for the tests and benchmarks that run it in
// a network namespace of their own against a scripted responder.
#include "Clocks.h"
#include "IcmpEngine.h"
#include "IcmpResponder.h"
#include "IcmpSocketChannel.h"
#include "frmPing.h"

#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

// Waits in the event loop itself, so that replies reach the window the
// moment they arrive (QTest::qWaitFor sleeps between its looks).
inline bool waitUntil(const std::function<bool()> &done, int withinMs)
{
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (done())
            loop.quit();
    });
    look.start(5);
    QTimer::singleShot(withinMs, &loop, &QEventLoop::quit);
    if (!done())
        loop.exec();
    return done();
}

// A window on a real engine with an IPv4 datagram socket, and what its
// graph and labels show.
struct LiveWindow {
    IcmpEngine engine;
    int beeps = 0;
    frmPing window;
    QList<int> handedOver;       // sequence numbers of replies, in the order the window got them
    QList<int64_t> handedOverNs; // when, on the wall clock
    QList<int> lost;             // sequence numbers handed over as lost

    static EchoChannels v4Socket(SocketKind kind = SocketKind::Datagram)
    {
        int error = 0;
        EchoChannels channels;
        channels.v4 = IcmpSocketChannel::open(icmp::Family::V4, kind, error);
        if (!channels.v4)
            qFatal("no ICMP socket");
        return channels;
    }

    explicit LiveWindow(const QString &commandLine = {}, EchoChannels channels = v4Socket())
        : engine(std::move(channels)), window(
                                           engine, [this] { ++beeps; }, commandLine)
    {
        QObject::connect(&engine, &EchoEngine::replyReceived, [this](qint16 seq, int, qint32) {
            handedOver << seq;
            handedOverNs << wallNs();
        });
        QObject::connect(&engine, &EchoEngine::requestLost, [this](qint16 seq) { lost << seq; });
    }

    QString text(const char *name) const { return window.findChild<QLabel *>(name)->text(); }
    QString caption() const { return window.findChild<QPushButton *>("Command1")->text(); }
    QString failureLine() const
    {
        const auto *line = window.findChild<QLabel *>("failureLine");
        return line->isVisibleTo(&window) ? line->accessibleDescription() : QString();
    }
    int redBars()
    {
        int red = 0;
        // Red is a loss's full-height bar, which crosses every row of the band.
        const int row = lagScale.graphTop + lagScale.graphHeight / 2;
        for (int x = lagScale.bandLeft(); x < lagScale.bandLeft() + LagHistory::count; ++x)
            red += window.drawing().pixel(x, row) == qRgb(0xC0, 0, 0);
        return red;
    }
    void showLosses()
    {
        qInfo("%d red bars; loss \"%s\" in all, \"%s\" in the window", redBars(),
              qPrintable(text("LossLabel")), qPrintable(text("wndLoss")));
    }
    void start(const char *host, double intervalMs)
    {
        engine.setInterval(intervalMs);
        window.findChild<QLineEdit *>("HostName")->setText(host);
        window.Command1_Click();
    }
    // Sends until `count` requests went out, then presses Stop.
    [[nodiscard]] bool sendThenStop(int count, int withinMs)
    {
        const bool sent = waitUntil([&] { return window.sentCount() >= count; }, withinMs);
        window.Command1_Click();
        return sent;
    }

    // How long after the responder answered each reply reached the window,
    // in ms, for the replies from `from` on; the replies it has no answer
    // of record for (a reply it never sent) go to `unrecorded`.
    std::vector<double> delaysMs(const IcmpResponder &responder, qsizetype from = 0,
                                 QList<int> *unrecorded = nullptr) const
    {
        std::vector<double> ms;
        for (qsizetype i = from; i < handedOver.size(); ++i) {
            if (const auto at = responder.answeredAtNs(uint16_t(handedOver[i])))
                ms.push_back(double(handedOverNs[i] - *at) / 1e6);
            else if (unrecorded)
                *unrecorded << handedOver[i];
        }
        return ms;
    }
    struct Delays {
        qsizetype count = 0;
        double medianMs = 0;
        double p90Ms = 0;
        double worstMs = 0;
        QList<int> unrecorded;
    };
    Delays displayDelays(const IcmpResponder &responder, int from = 0) const
    {
        QList<int> unrecorded;
        std::vector<double> delays = delaysMs(responder, from, &unrecorded);
        std::sort(delays.begin(), delays.end());
        Delays d;
        if (!delays.empty())
            d = {qsizetype(delays.size()),
                 delays[delays.size() / 2],
                 delays[delays.size() * 9 / 10],
                 delays.back(),
                 {}};
        d.unrecorded = unrecorded;
        qInfo("display delay over %lld replies: median %.2f ms, 90th percentile %.2f ms, "
              "worst %.2f ms",
              static_cast<long long>(d.count), d.medianMs, d.p90Ms, d.worstMs);
        for (const int seq : unrecorded)
            qInfo("reply %d was handed over, but the responder has no answer to it on record", seq);
        return d;
    }
    void showPatience() const
    {
        qInfo("patience %.1f ms, %llu late replies",
              std::chrono::duration<double, std::milli>(engine.currentPatience()).count(),
              static_cast<unsigned long long>(engine.lateReplies()));
    }
    // Everything the window showed, and when the last replies reached it:
    // what a failing test prints, so that a rare failure explains itself.
    void describe()
    {
        QStringList labels;
        for (const char *name :
             {"SendLabel", "RecvLabel", "LossLabel", "avping", "cping", "wndLoss"})
            labels << QString("%1 \"%2\"").arg(name, text(name));
        qInfo("window: %s; button \"%s\"; failure line \"%s\"; %d red bars; %d beeps",
              qPrintable(labels.join(", ")), qPrintable(caption()), qPrintable(failureLine()),
              redBars(), beeps);
        QStringList replies;
        for (qsizetype i = std::max<qsizetype>(0, handedOver.size() - 20); i < handedOver.size();
             ++i)
            replies << QString("%1 at %2 ms")
                           .arg(handedOver[i])
                           .arg((handedOverNs[i] - handedOverNs.front()) / 1e6, 0, 'f', 1);
        QStringList losses;
        for (int seq : lost)
            losses << QString::number(seq);
        qInfo("%lld replies, the last: %s; lost: %s", static_cast<long long>(handedOver.size()),
              qPrintable(replies.join(", ")), qPrintable(losses.join(" ")));
        showPatience();
    }
};
