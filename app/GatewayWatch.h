#pragma once

#include "IpAddress.h"
#include "LossWatch.h"
#include "RunFigures.h"
#include "SlowWatch.h"

#include <QObject>

#include <chrono>
#include <deque>
#include <optional>

class EchoEngine;
class frmPing;

// The first hop beside the host: the gateway this machine routes the host's
// address through, followed as the routes change, and pinged while the
// window pings, on an engine and sockets of its own, at the host's interval
// but at most every 100 ms. Nothing of it is counted, drawn or handed to the
// window; where there is no gateway (a host on a link of this machine's,
// loopback, the gateway itself) nothing is sent, and where pinging it fails
// it is only left out.
class GatewayWatch : public QObject {
    Q_OBJECT

  public:
    using Clock = std::chrono::steady_clock;

    GatewayWatch(frmPing &window, EchoEngine &engine);

    // "192.0.2.1", "fe80::1%eth0"; empty while there is none to watch.
    QString name() const { return name_; }
    // "Gateway G: N ms, N % lost": its latest round trip and its loss over
    // the window's span; empty before its first reply.
    QString summary() const;
    // Whether it has answered requests sent after `since`: yes at the first
    // such reply, no once three of them were lost with none answered; none
    // until one or the other.
    std::optional<bool> answersSince(Clock::time_point since) const;
    bool slow() const { return slow_; }
    bool losing() const { return losing_; }

  signals:
    // A request of the gateway's was handed over, or the gateway changed.
    void changed();

  private:
    struct Request {
        int seq = 0;
        Clock::time_point sent;
        std::optional<bool> answered; // none while pending
    };

    void published(const RunUpdate &update);
    void aim();
    void stop();
    void sent();
    void settled(int seq, std::optional<int32_t> roundTripMs);

    EchoEngine &engine_;
    const RunFigures &figures_;
    std::optional<IpAddress> host_;
    std::optional<IpAddress> gateway_;
    QString name_;
    std::deque<Request> requests_; // the newest, over the window's span at most
    std::optional<int32_t> latestMs_;
    SlowWatch slowness_;
    LossWatch losses_;
    bool slow_ = false;
    bool losing_ = false;
};
