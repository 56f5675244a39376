#include "IcmpEngine.h"

#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

#include <cerrno>
#include <climits>
#include <cmath>
#include <random>

namespace {

constexpr int64_t nsPerMs = 1'000'000;
constexpr double minIntervalMs = 10;
constexpr double maxMs = INT_MAX;
constexpr int readsPerWakeUp = 64; // then let the window breathe
constexpr int minRetryMs = 1000;
constexpr int maxHostLength = 253; // the longest a DNS name can be

// A setting's new value, or the old one for NaN.
double bounded(double value, double low, double high, double old)
{
    return std::isnan(value) ? old : std::clamp(std::nearbyint(value), low, high);
}

} // namespace

IcmpEngine::IcmpEngine(IcmpSockets sockets, QObject *parent)
    : EchoEngine(parent), v4_(std::move(sockets.v4)), v6_(std::move(sockets.v6))
{
    std::random_device random;
    tokenKey_ = uint64_t(random()) << 32 | random();
    for (auto *socket : {socketFor(icmp::Family::V4), socketFor(icmp::Family::V6)}) {
        if (socket) {
            socket->setDontFragment(false);
            watch(*socket);
        }
    }
    connect(&sendTimer_, &DeadlineTimer::timeout, this, &IcmpEngine::sendDue);
    connect(&timeoutTimer_, &DeadlineTimer::timeout, this, &IcmpEngine::expire);
    connect(&lookups_, &BackgroundLookups::finished, this, &IcmpEngine::resolved);
}

void IcmpEngine::watch(IcmpSocket &socket)
{
    auto *notifier = new QSocketNotifier(socket.handle(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, &socket] { readFrom(socket); });
}

IcmpSocket *IcmpEngine::socketFor(icmp::Family family)
{
    auto &socket = family == icmp::Family::V4 ? v4_ : v6_;
    return socket ? &*socket : nullptr;
}

void IcmpEngine::setRunning(bool on)
{
    if (on == running_)
        return;
    running_ = on;
    ++run_;
    target_.reset();
    awaitedName_.reset();
    schedule_.stop();
    sendTimer_.stop();
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
        schedule_.settled(monotonicNs());
        armSendTimer();
    }
}

void IcmpEngine::setInterval(double ms)
{
    intervalMs_ = bounded(ms, minIntervalMs, maxMs, intervalMs_);
    schedule_.intervalChanged(static_cast<int64_t>(intervalMs_) * nsPerMs);
    armSendTimer();
}

double IcmpEngine::payloadSize() const
{
    // The limit of the family last pinged; before any, the larger one.
    const icmp::Family family = lastFamily_.value_or(icmp::Family::V6);
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
    for (auto *socket : {socketFor(icmp::Family::V4), socketFor(icmp::Family::V6)})
        if (socket)
            socket->setDontFragment(on);
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
    if (!lookups_.start(ascii))
        retryLookupLater(EAGAIN);
}

void IcmpEngine::resolved(const std::string &name, const LookupResult &result)
{
    if (!running_ || awaitedName_ != name)
        return;
    awaitedName_.reset();
    if (result.addresses.empty())
        retryLookupLater(result.error);
    else
        aimAtFirst(result.addresses);
}

// Perhaps the network is not up yet: try again, at a calm pace.
void IcmpEngine::retryLookupLater(int error)
{
    const unsigned run = run_;
    QTimer::singleShot(std::max(minRetryMs, static_cast<int>(intervalMs_)), this,
                       [this, run] { beginRun(run); });
    emit requestFailed(0, int(EchoFailure::ResolveFailed), error);
}

// The first address of a family with a socket; failing that, the first one,
// so that the missing socket is what gets reported.
void IcmpEngine::aimAtFirst(const std::vector<IpAddress> &addresses)
{
    std::optional<IpAddress> fallback;
    for (const IpAddress &address : addresses) {
        const auto target = pingable(address);
        if (!target)
            continue;
        if (socketFor(target->family)) {
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
    if (!socketFor(target.family)) {
        giveUp(EchoFailure::NoSocket, target.family == icmp::Family::V4 ? 4 : 6);
        return;
    }
    target_ = target;
    lastFamily_ = target.family;
    schedule_.start(monotonicNs());
    armSendTimer();
}

void IcmpEngine::giveUp(EchoFailure reason, int detail)
{
    running_ = false;
    ++run_;
    schedule_.stop();
    sendTimer_.stop();
    emit requestFailed(0, int(reason), detail);
    emit stoppedSending();
}

void IcmpEngine::sendDue()
{
    const int64_t now = monotonicNs();
    if (running_ && target_ && schedule_.due(now))
        sendOne(now);
    armSendTimer();
}

void IcmpEngine::sendOne(int64_t nowNs)
{
    IcmpSocket &socket = *socketFor(target_->family);
    const uint16_t seq = sequence_.take(restart_);
    restart_ = false;

    PendingRequest request;
    request.seq = seq;
    request.token = tokenKey_ ^ ++tokenCount_;
    request.payloadSize = std::min<size_t>(payloadBytes_, icmp::maxPayload(target_->family));
    const auto payload = icmp::payloadFor(request.token, request.payloadSize);
    const auto packet = icmp::buildEchoRequest(target_->family, socket.identifier(), seq, payload);

    schedule_.sent(nowNs, static_cast<int64_t>(intervalMs_) * nsPerMs, synchronous_);
    request.sentWallNs = wallClockNs();
    const int error = socket.send(*target_, packet);
    // A request the kernel refused (no route, link down) was still a request
    // made and lost: the window counts it, and its gap shows as a loss.
    lastSent_ = seq;
    if (error != 0) {
        schedule_.settled(nowNs);
        emit requestSent();
        emit requestFailed(static_cast<qint16>(seq), int(EchoFailure::SendFailed), error);
        return;
    }
    request.place = order_.sent();
    request.deadlineNs = nowNs + static_cast<int64_t>(timeoutMs_) * nsPerMs;
    const auto displaced = outstanding_.add(request);
    armTimeoutTimer();
    if (displaced) {
        order_.lost(displaced->place);
        emit requestFailed(static_cast<qint16>(displaced->seq), int(EchoFailure::Timeout), 0);
    }
    emit requestSent();
    handOverReplies();
}

void IcmpEngine::readFrom(IcmpSocket &socket)
{
    for (int i = 0; i < readsPerWakeUp; ++i) {
        if (const auto error = socket.receiveError()) {
            fail(*error);
            continue;
        }
        const auto packet = socket.receive();
        if (!packet)
            return;
        const icmp::Message message = icmp::parse(socket.family(), packet->bytes, socket.framing());
        const bool raw = socket.kind() == SocketKind::Raw;
        if (const auto *reply = std::get_if<icmp::EchoReply>(&message)) {
            if (!raw || reply->id == socket.identifier())
                answer(*reply, *packet);
        } else if (const auto *error = std::get_if<icmp::EchoError>(&message)) {
            if (!raw || error->id == socket.identifier())
                fail(*error);
        }
    }
}

void IcmpEngine::answer(const icmp::EchoReply &reply, const ReceivedPacket &packet)
{
    const auto request = outstanding_.takeAnswered(reply);
    if (!request)
        return;
    const double ms = double(packet.wallNs - request->sentWallNs) / nsPerMs;
    const auto roundTrip = static_cast<int32_t>(std::clamp(std::nearbyint(ms), 0.0, maxMs));
    const int hops = reply.ttl >= 0 ? reply.ttl : packet.hopLimit;
    order_.answered(request->place, {.seq = request->seq, .hops = hops, .roundTripMs = roundTrip});
    settle();
    armTimeoutTimer();
    handOverReplies();
}

void IcmpEngine::fail(const icmp::EchoError &error)
{
    const auto request = outstanding_.take(error.seq);
    if (!request)
        return;
    order_.lost(request->place);
    settle();
    armTimeoutTimer();
    emit requestFailed(static_cast<qint16>(error.seq), int(EchoFailure::IcmpError),
                       error.type * 256 + error.code);
    handOverReplies();
}

void IcmpEngine::expire()
{
    const auto expired = outstanding_.takeExpired(monotonicNs());
    if (!expired.empty())
        settle();
    armTimeoutTimer();
    for (const PendingRequest &request : expired) {
        order_.lost(request.place);
        emit requestFailed(static_cast<qint16>(request.seq), int(EchoFailure::Timeout), 0);
    }
    handOverReplies();
}

void IcmpEngine::handOverReplies()
{
    while (const auto reply = order_.next())
        emit replyReceived(static_cast<qint16>(reply->seq), reply->hops, reply->roundTripMs);
}

void IcmpEngine::settle()
{
    schedule_.settled(monotonicNs());
    armSendTimer();
}

void IcmpEngine::armSendTimer()
{
    const auto due = schedule_.nextDue();
    if (!running_ || !target_ || !due) {
        sendTimer_.stop();
        return;
    }
    sendTimer_.start(*due);
}

void IcmpEngine::armTimeoutTimer()
{
    const auto deadline = outstanding_.nextDeadline();
    if (!deadline) {
        timeoutTimer_.stop();
        return;
    }
    timeoutTimer_.start(*deadline);
}
