#include "GatewayWatch.h"

#include "EchoEngine.h"
#include "HostLookup.h"
#include "LagHistory.h"
#include "NumberText.h"
#include "Platform.h"
#include "frmPing.h"

#include <algorithm>

namespace {

constexpr double shortestIntervalMs = 100;
constexpr int lossesToBeSilent = 3;

} // namespace

GatewayWatch::GatewayWatch(frmPing &window, EchoEngine &engine)
    : QObject(&window), engine_(engine), figures_(window.figures())
{
    engine_.setSynchronous(false);
    connect(&window, &frmPing::published, this, &GatewayWatch::published);
    connect(&engine_, &EchoEngine::requestSent, this, &GatewayWatch::sent);
    connect(&engine_, &EchoEngine::replyReceived, this,
            [this](qint16 seq, int, qint32 ms) { settled(seq, ms); });
    connect(&engine_, &EchoEngine::requestLost, this,
            [this](qint16 seq) { settled(seq, std::nullopt); });
    watchRoutes(this, [this] {
        if (host_)
            aim();
    });
}

void GatewayWatch::published(const RunUpdate &update)
{
    switch (update.event) {
    case RunEvent::Start:
        host_.reset();
        stop();
        return;
    case RunEvent::Stop:
    case RunEvent::GaveUp:
        engine_.setRunning(false);
        return;
    case RunEvent::Interval:
        engine_.setInterval(std::max(update.figures.intervalMs, shortestIntervalMs));
        return;
    case RunEvent::RequestSent:
        if (!host_ && !update.figures.address.empty()) {
            const LookupResult literal = lookUpHost(update.figures.address, true);
            if (!literal.addresses.empty()) {
                host_ = literal.addresses.front();
                aim();
            }
        }
        return;
    default:
        return;
    }
}

// Asks for the route to the host and pings its gateway, a new one anew.
void GatewayWatch::aim()
{
    const std::optional<IpAddress> gateway = gatewayTo(*host_);
    if (gateway == gateway_ && (engine_.running() || !figures_.pinging))
        return;
    stop();
    gateway_ = gateway;
    if (!gateway_)
        return;
    const std::string address = addressText(*gateway_);
    name_ = QString::fromStdString(gateway_->scopeId ? address.substr(0, address.find('%')) + '%' +
                                                           interfaceName(gateway_->scopeId)
                                                     : address);
    if (figures_.pinging) {
        engine_.setHost(QString::fromStdString(address));
        engine_.setInterval(std::max(figures_.intervalMs, shortestIntervalMs));
        engine_.setRunning(true);
    }
    emit changed();
}

void GatewayWatch::stop()
{
    engine_.setRunning(false);
    const bool had = gateway_.has_value();
    gateway_.reset();
    name_.clear();
    requests_.clear();
    latestMs_.reset();
    slowness_.started();
    losses_.started();
    slow_ = losing_ = false;
    if (had)
        emit changed();
}

void GatewayWatch::sent()
{
    requests_.push_back({int(engine_.lastSequenceSent()), Clock::now(), std::nullopt});
    // No more than the window's span holds: never more than the host's
    // requests, the gateway's interval being no shorter.
    while (requests_.size() > size_t(LagHistory::count))
        requests_.pop_front();
}

void GatewayWatch::settled(int seq, std::optional<int32_t> roundTripMs)
{
    const auto now = Clock::now();
    const auto request = std::find_if(requests_.rbegin(), requests_.rend(),
                                      [&](const Request &r) { return qint16(r.seq) == seq; });
    if (request != requests_.rend())
        request->answered = roundTripMs.has_value();
    if (roundTripMs) {
        latestMs_ = roundTripMs;
        if (const auto lossy = losses_.answered(now))
            losing_ = lossy->losing;
        if (const auto verdict = slowness_.answered(now, *roundTripMs))
            slow_ = verdict->slow;
    } else {
        losses_.lost(now);
    }
    emit changed();
}

QString GatewayWatch::summary() const
{
    if (name_.isEmpty() || !latestMs_)
        return {};
    const auto span = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(figures_.windowSpanSeconds));
    const auto from = Clock::now() - span;
    int settled = 0;
    int lost = 0;
    for (const Request &r : requests_)
        if (r.sent >= from && r.answered) {
            ++settled;
            lost += !*r.answered;
        }
    const int32_t percent = settled ? roundToInt32(100.0 * lost / settled) : 0;
    return QString("Gateway %1: %2, %3 lost")
        .arg(name_, QString::fromStdString(msText(*latestMs_)),
             QString::fromStdString(percentText(percent)));
}

std::optional<bool> GatewayWatch::answersSince(Clock::time_point since) const
{
    int lost = 0;
    for (const Request &r : requests_) {
        if (r.sent <= since || !r.answered)
            continue;
        if (*r.answered)
            return true;
        if (++lost >= lossesToBeSilent)
            return false;
    }
    return std::nullopt;
}
