#include "IcmpEngine.h"

#include "EchoData.h"
#include "Platform.h"

#include <QTimer>
#include <QUrl>

#include <cerrno>
#include <climits>
#include <cmath>
#include <random>

namespace {

using Milliseconds = std::chrono::milliseconds;
constexpr double minIntervalMs = 10;
constexpr double maxMs = INT_MAX;
constexpr int resultsPerWakeUp = 64; // then let the window breathe
constexpr int minRetryMs = 1000;
constexpr int nameServerPatienceMs = 1000; // before saying the name server is silent
constexpr int maxHostLength = 253;         // the longest a DNS name can be

// A setting's new value, or the old one for NaN.
double bounded(double value, double low, double high, double old)
{
    return std::isnan(value) ? old : std::clamp(std::nearbyint(value), low, high);
}

Milliseconds wholeMs(double ms)
{
    return Milliseconds(static_cast<int64_t>(ms));
}

} // namespace

IcmpEngine::IcmpEngine(EchoChannels channels, QObject *parent)
    : EchoEngine(parent), v4_(std::move(channels.v4)), v6_(std::move(channels.v6)),
      v4Error_(channels.v4Error), v6Error_(channels.v6Error)
{
    std::random_device random;
    tokenKey_ = uint64_t(random()) << 32 | random();
    for (auto *channel : {channelFor(icmp::Family::V4), channelFor(icmp::Family::V6)})
        if (channel)
            watchReadyHandle(channel->readyHandle(), this,
                             [this, channel] { collectFrom(*channel); });
    connect(&timer_, &DeadlineTimer::timeout, this, &IcmpEngine::deadlineReached);
    connect(&lookups_, &BackgroundLookups::finished, this, &IcmpEngine::resolved);
}

EchoChannel *IcmpEngine::channelFor(icmp::Family family)
{
    return (family == icmp::Family::V4 ? v4_ : v6_).get();
}

void IcmpEngine::setRunning(bool on)
{
    if (on == running_)
        return;
    running_ = on;
    ++run_;
    target_.reset();
    address_.clear();
    awaitedName_.reset();
    schedule_.stop();
    armTimer();
    if (on) {
        // Everything that may notify happens from the event loop, later.
        const unsigned run = run_;
        QMetaObject::invokeMethod(
            this, [this, run] { beginRun(run); }, Qt::QueuedConnection);
    }
}

void IcmpEngine::setSynchronous(bool on)
{
    synchronous_ = on;
    if (!on) {
        schedule_.settled(MonotonicClock::now());
        armTimer();
    }
}

void IcmpEngine::setInterval(double ms)
{
    intervalMs_ = bounded(ms, minIntervalMs, maxMs, intervalMs_);
    schedule_.intervalChanged(wholeMs(intervalMs_));
    armTimer();
}

double IcmpEngine::payloadSize() const
{
    // The limit of the family last pinged; before any, the larger one.
    const icmp::Family family = lastTarget_ ? lastTarget_->family : icmp::Family::V6;
    return std::min(payloadBytes_, double(icmp::maxPayload(family)));
}

void IcmpEngine::setPayloadSize(double bytes)
{
    payloadBytes_ = bounded(bytes, 0, double(icmp::maxPayload(icmp::Family::V6)), payloadBytes_);
}

void IcmpEngine::setTimeout(double ms)
{
    timeoutMs_ = bounded(ms, 1, maxMs, timeoutMs_);
}

void IcmpEngine::setDontFragment(bool on)
{
    dontFragment_ = on;
}

void IcmpEngine::beginRun(unsigned run)
{
    if (run != run_ || !running_)
        return;
    const QString name = host_.trimmed();
    if (name.isEmpty()) {
        giveUp(EchoFailure::ResolveFailed, EINVAL);
        return;
    }
    const LookupResult literal = lookUpHost(name.toStdString(), true);
    if (literal.error == 0) {
        aimAtFirst(literal.addresses);
        return;
    }
    // An internationalised name is looked up in its ASCII form.
    const std::string ascii = QUrl::toAce(name).toStdString();
    if (ascii.empty() || ascii.size() > maxHostLength) {
        giveUp(EchoFailure::ResolveFailed, EINVAL);
        return;
    }
    awaitedName_ = ascii;
    if (!lookups_.start(ascii)) {
        retryLookupLater(EchoFailure::NameServerSilent, 0);
        return;
    }
    // Say so when the name server keeps the user waiting.
    QTimer::singleShot(nameServerPatienceMs, this, [this, run, ascii] {
        if (run == run_ && awaitedName_ == ascii)
            emit requestFailed(0, EchoFailure::NameServerSilent, 0);
    });
}

void IcmpEngine::resolved(const std::string &name, const LookupResult &result)
{
    if (!running_ || awaitedName_ != name)
        return;
    awaitedName_.reset();
    if (!result.addresses.empty())
        aimAtFirst(result.addresses);
    else if (result.temporary)
        retryLookupLater(EchoFailure::NameServerSilent, 0);
    else
        retryLookupLater(EchoFailure::ResolveFailed, result.error);
}

// Perhaps the network is not up yet: try again, at a calm pace.
void IcmpEngine::retryLookupLater(EchoFailure reason, int detail)
{
    const unsigned run = run_;
    QTimer::singleShot(std::max(minRetryMs, static_cast<int>(intervalMs_)), this,
                       [this, run] { beginRun(run); });
    emit requestFailed(0, reason, detail);
}

// The first address of a family with a channel; failing that, the first one,
// so that the missing channel is what gets reported.
void IcmpEngine::aimAtFirst(const std::vector<IpAddress> &addresses)
{
    std::optional<IpAddress> fallback;
    for (const IpAddress &address : addresses) {
        const auto target = pingable(address);
        if (!target)
            continue;
        if (channelFor(target->family)) {
            aim(*target);
            return;
        }
        fallback = fallback ? fallback : target;
    }
    if (fallback)
        aim(*fallback);
    else
        giveUp(EchoFailure::ResolveFailed, EADDRNOTAVAIL);
}

void IcmpEngine::aim(const IpAddress &target)
{
    if (!channelFor(target.family)) {
        const int error = target.family == icmp::Family::V4 ? v4Error_ : v6Error_;
        giveUp(lacksPermission(error) ? EchoFailure::NoPermission : EchoFailure::NoSocket, error);
        return;
    }
    // The patience learnt on a path holds across Stop and Start: replies to
    // the earlier run may still be on their way.
    if (lastTarget_ != target)
        patience_.reset();
    target_ = target;
    address_ = QString::fromStdString(addressText(target));
    lastTarget_ = target;
    schedule_.start(MonotonicClock::now());
    armTimer();
}

void IcmpEngine::giveUp(EchoFailure reason, int detail)
{
    running_ = false;
    ++run_;
    schedule_.stop();
    armTimer();
    emit requestFailed(0, reason, detail);
    emit stoppedSending();
}

// The one timer serves both the next request and the next request to give
// up on, so that each request costs one timer arm.
void IcmpEngine::deadlineReached()
{
    // After a busy spell the timer may be served before the channels: a
    // reply that came in time waits unread, and is read before its request
    // is given up.
    if (const auto due = outstanding_.nextDue(currentPatience());
        due && *due <= MonotonicClock::now())
        for (EchoChannel *channel : {v4_.get(), v6_.get()})
            if (channel)
                readFrom(*channel);
    giveUpOverdue();
    const MonotonicTime now = MonotonicClock::now();
    if (running_ && target_ && schedule_.due(now))
        sendOne(now);
    armTimer();
}

void IcmpEngine::sendOne(MonotonicTime now)
{
    EchoChannel &channel = *channelFor(target_->family);
    const uint16_t seq = sequence_.take(restart_);
    restart_ = false;

    PendingRequest request;
    request.seq = seq;
    request.token = tokenKey_ ^ ++tokenCount_;
    request.payloadSize = std::min<size_t>(payloadBytes_, icmp::maxPayload(target_->family));
    const auto payload = icmp::payloadFor(request.token, request.payloadSize);

    schedule_.sent(now, wholeMs(intervalMs_), synchronous_);
    request.sentAt = now;
    request.sentWall = WallClock::now();
    const int error = channel.send({.to = *target_,
                                    .seq = seq,
                                    .payload = payload,
                                    .timeout = wholeMs(timeoutMs_),
                                    .dontFragment = dontFragment_});
    // A request the system refused (no route, link down) was still a request
    // made and lost: the window counts it, and it is handed over as lost.
    lastSent_ = seq;
    request.place = order_.sent(seq);
    if (error != 0) {
        order_.lost(request.place);
        schedule_.settled(now);
        emit requestSent();
        emit requestFailed(static_cast<qint16>(seq), EchoFailure::SendFailed, error);
        handOver();
        return;
    }
    request.deadline = now + wholeMs(timeoutMs_);
    const auto displaced = outstanding_.add(request);
    if (displaced) {
        order_.lost(displaced->place);
        emit requestFailed(static_cast<qint16>(displaced->seq), EchoFailure::Timeout, 0);
    }
    emit requestSent();
    handOver();
}

// Everything waiting is read before any overtaken request is judged, so
// that a reply held up in the socket by a busy moment here still counts.
void IcmpEngine::collectFrom(EchoChannel &channel)
{
    readFrom(channel);
    giveUpOverdue();
    armTimer();
}

// Reads what the channel holds, up to one wake-up's worth; judges nothing.
void IcmpEngine::readFrom(EchoChannel &channel)
{
    int results = 0;
    for (; results < resultsPerWakeUp; ++results) {
        const auto result = channel.collect();
        if (!result)
            break;
        if (result->kind == EchoResult::Kind::Reply)
            answer(*result);
        else
            fail(*result);
    }
    // The channel may hold results it read in one go, which its handle
    // no longer signals: come back for them.
    if (results == resultsPerWakeUp)
        QTimer::singleShot(0, this, [this, &channel] { collectFrom(channel); });
}

void IcmpEngine::answer(const EchoResult &reply)
{
    const auto request = outstanding_.takeAnswered(reply.seq, reply.payload);
    if (request) {
        const auto took = roundTrip(*request, reply);
        patience_.sample(took);
        const double ms = std::chrono::duration<double, std::milli>(took).count();
        order_.answered(request->place, reply.hops,
                        static_cast<int32_t>(std::clamp(std::nearbyint(ms), 0.0, maxMs)));
        outstanding_.overtaken(request->place);
        settle();
    } else if (const auto late = outstanding_.takeLate(reply.seq, reply.payload)) {
        // Too late to count, but it tells how slow the path has become.
        patience_.sample(roundTrip(*late, reply));
        ++lateReplies_;
    }
}

MonotonicClock::duration IcmpEngine::roundTrip(const PendingRequest &request,
                                               const EchoResult &reply) const
{
    using std::chrono::duration_cast;
    if (reply.roundTrip)
        return duration_cast<MonotonicClock::duration>(*reply.roundTrip);
    return reply.receivedAt
               ? duration_cast<MonotonicClock::duration>(*reply.receivedAt - request.sentWall)
               : MonotonicClock::now() - request.sentAt;
}

// A request that ended without a reply: an ICMP error, or the platform gave
// up on it.
void IcmpEngine::fail(const EchoResult &result)
{
    const auto request = outstanding_.take(result.seq);
    if (!request)
        return;
    order_.lost(request->place);
    settle();
    const auto seq = static_cast<qint16>(result.seq);
    switch (result.kind) {
    case EchoResult::Kind::IcmpError:
        emit requestFailed(seq, EchoFailure::IcmpError, result.type * 256 + result.code);
        break;
    case EchoResult::Kind::TimedOut:
        emit requestFailed(seq, EchoFailure::Timeout, 0);
        break;
    default: // Failed
        emit requestFailed(seq, EchoFailure::SendFailed, result.systemError);
        break;
    }
}

// Requests past their timeout, and overtaken ones that have waited longer
// than the path's round trips explain, are lost; then everything resolved
// in order goes to the window.
void IcmpEngine::giveUpOverdue()
{
    const auto overdue = outstanding_.takeOverdue(MonotonicClock::now(), currentPatience());
    if (!overdue.empty())
        settle();
    for (const PendingRequest &request : overdue) {
        order_.lost(request.place);
        emit requestFailed(static_cast<qint16>(request.seq), EchoFailure::Timeout, 0);
    }
    handOver();
}

void IcmpEngine::handOver()
{
    while (const auto outcome = order_.next()) {
        const auto seq = static_cast<qint16>(outcome->seq);
        if (outcome->answered)
            emit replyReceived(seq, outcome->hops, outcome->roundTripMs);
        else
            emit requestLost(seq);
    }
}

MonotonicClock::duration IcmpEngine::currentPatience() const
{
    return patience_.current(wholeMs(timeoutMs_));
}

void IcmpEngine::settle()
{
    schedule_.settled(MonotonicClock::now());
}

// Every way into the engine ends here: the timer is set for whichever comes
// first, the next request or the next one to give up on.
void IcmpEngine::armTimer()
{
    std::optional<MonotonicTime> due = outstanding_.nextDue(currentPatience());
    if (const auto send = schedule_.nextDue(); running_ && target_ && send)
        due = due ? std::min(*due, *send) : *send;
    if (due)
        timer_.start(*due);
    else
        timer_.stop();
}
