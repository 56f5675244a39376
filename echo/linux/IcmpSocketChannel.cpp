#include "IcmpSocketChannel.h"

#include "EchoFilter.h"

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace {

constexpr int foreignPerCollect = 64; // then let the event loop breathe

void enable(int fd, int level, int option)
{
    const int on = 1;
    setsockopt(fd, level, option, &on, sizeof on);
}

socklen_t toSockaddr4(const IpAddress &address, sockaddr_storage &storage)
{
    auto &in = reinterpret_cast<sockaddr_in &>(storage);
    in.sin_family = AF_INET;
    std::memcpy(&in.sin_addr, address.bytes.data(), sizeof in.sin_addr);
    return sizeof in;
}

socklen_t toSockaddr6(const IpAddress &address, sockaddr_storage &storage)
{
    auto &in6 = reinterpret_cast<sockaddr_in6 &>(storage);
    in6.sin6_family = AF_INET6;
    std::memcpy(&in6.sin6_addr, address.bytes.data(), sizeof in6.sin6_addr);
    in6.sin6_scope_id = address.scopeId;
    return sizeof in6;
}

uint16_t portOf(const sockaddr_storage &storage)
{
    return storage.ss_family == AF_INET ? reinterpret_cast<const sockaddr_in &>(storage).sin_port
                                        : reinterpret_cast<const sockaddr_in6 &>(storage).sin6_port;
}

// Raw sockets pass on only the ICMP types we read, before the socket
// filter looks closer; 0 or an errno value.
int filterTypes4(int fd)
{
    const icmp::Types &types = icmp::types(icmp::Family::V4);
    uint32_t pass = 1u << types.echoReply;
    for (uint8_t error : types.errors)
        pass |= 1u << error;
    icmp_filter filter{};
    filter.data = ~pass;
    return setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) == 0 ? 0 : errno;
}

int filterTypes6(int fd)
{
    const icmp::Types &types = icmp::types(icmp::Family::V6);
    icmp6_filter filter;
    ICMP6_FILTER_SETBLOCKALL(&filter);
    ICMP6_FILTER_SETPASS(types.echoReply, &filter);
    for (uint8_t error : types.errors)
        ICMP6_FILTER_SETPASS(error, &filter);
    return setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter) == 0 ? 0 : errno;
}

// Only our own replies and errors get past; 0 or an errno value.
int attachEchoFilter(int fd, icmp::Family family, uint16_t identifier)
{
    std::vector<sock_filter> code = echoFilter(family, identifier);
    const sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    return setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0 ? 0 : errno;
}

void dontFragment4(int fd, bool on)
{
    const int mode = on ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    setsockopt(fd, IPPROTO_IP, IP_MTU_DISCOVER, &mode, sizeof mode);
}

void dontFragment6(int fd, bool on)
{
    const int flag = on ? 1 : 0;
    setsockopt(fd, IPPROTO_IPV6, IPV6_DONTFRAG, &flag, sizeof flag);
}

} // namespace

// What differs between the families on a Linux socket, in one place.
struct SocketFamily {
    icmp::Family family;
    int domain;
    int protocol;
    int level;         // of the options below
    int receiveHops;   // asks for the TTL or hop limit with every packet...
    int hopsMessage;   // ...which comes in a control message of this type
    int receiveErrors; // datagram sockets queue ICMP errors; also the message type
    uint8_t errorOrigin;
    icmp::Framing rawFraming; // raw IPv4 sockets pass the IP header and an unchecked checksum
    int (*filterTypes)(int fd);
    void (*dontFragment)(int fd, bool on);
    socklen_t (*toSockaddr)(const IpAddress &, sockaddr_storage &);
};

namespace {

constexpr SocketFamily v4{
    .family = icmp::Family::V4,
    .domain = AF_INET,
    .protocol = IPPROTO_ICMP,
    .level = IPPROTO_IP,
    .receiveHops = IP_RECVTTL,
    .hopsMessage = IP_TTL,
    .receiveErrors = IP_RECVERR,
    .errorOrigin = SO_EE_ORIGIN_ICMP,
    .rawFraming = {.ipHeader = true, .verifyChecksum = true},
    .filterTypes = filterTypes4,
    .dontFragment = dontFragment4,
    .toSockaddr = toSockaddr4,
};

constexpr SocketFamily v6{
    .family = icmp::Family::V6,
    .domain = AF_INET6,
    .protocol = IPPROTO_ICMPV6,
    .level = IPPROTO_IPV6,
    .receiveHops = IPV6_RECVHOPLIMIT,
    .hopsMessage = IPV6_HOPLIMIT,
    .receiveErrors = IPV6_RECVERR,
    .errorOrigin = SO_EE_ORIGIN_ICMP6,
    .rawFraming = {}, // the kernel checks the ICMPv6 checksum itself
    .filterTypes = filterTypes6,
    .dontFragment = dontFragment6,
    .toSockaddr = toSockaddr6,
};

socklen_t toSockaddr(const SocketFamily &family, const IpAddress &address,
                     sockaddr_storage &storage)
{
    std::memset(&storage, 0, sizeof storage);
    return family.toSockaddr(address, storage);
}

// A datagram socket's identifier is its local port, assigned on bind.
uint16_t bindDatagram(int fd, const SocketFamily &family)
{
    sockaddr_storage local;
    IpAddress any;
    any.family = family.family;
    socklen_t length = toSockaddr(family, any, local);
    if (bind(fd, reinterpret_cast<sockaddr *>(&local), length) != 0)
        return 0;
    length = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length);
    return ntohs(portOf(local));
}

} // namespace

std::unique_ptr<IcmpSocketChannel> IcmpSocketChannel::open(icmp::Family family, SocketKind kind,
                                                           int &error)
{
    const SocketFamily &rules = family == icmp::Family::V4 ? v4 : v6;
    const int type = kind == SocketKind::Datagram ? SOCK_DGRAM : SOCK_RAW;
    const int fd = socket(rules.domain, type | SOCK_NONBLOCK | SOCK_CLOEXEC, rules.protocol);
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    // The kernel's receive time, the hop count and the queue's drop count
    // with every packet.
    enable(fd, SOL_SOCKET, SO_TIMESTAMPNS);
    enable(fd, rules.level, rules.receiveHops);
    enable(fd, SOL_SOCKET, SO_RXQ_OVFL);
    uint16_t identifier = 0;
    if (kind == SocketKind::Datagram) {
        enable(fd, rules.level, rules.receiveErrors);
        identifier = bindDatagram(fd, rules);
    } else {
        std::random_device random;
        identifier = static_cast<uint16_t>(random());
        // Without its filters a raw socket could lose our replies among
        // everyone else's: no channel rather than a miscounting one.
        error = rules.filterTypes(fd);
        if (error == 0)
            error = attachEchoFilter(fd, rules.family, identifier);
        if (error != 0) {
            close(fd);
            return nullptr;
        }
    }
    error = 0;
    return std::unique_ptr<IcmpSocketChannel>(new IcmpSocketChannel(fd, rules, kind, identifier));
}

IcmpSocketChannel::IcmpSocketChannel(int fd, const SocketFamily &family, SocketKind kind,
                                     uint16_t identifier)
    : fd_(fd), family_(family), kind_(kind), identifier_(identifier)
{
    for (size_t i = 0; i < batchSize; ++i) {
        Slot &slot = slots_[i];
        // Left uninitialised: only the bytes the kernel writes take up memory.
        slot.data.reset(new uint8_t[bufferSize]);
        slot.io = {slot.data.get(), bufferSize};
        msghdr &message = headers_[i].msg_hdr;
        message.msg_iov = &slot.io;
        message.msg_iovlen = 1;
        message.msg_control = slot.control;
    }
}

IcmpSocketChannel::~IcmpSocketChannel()
{
    close(fd_);
}

int IcmpSocketChannel::send(const EchoRequest &request)
{
    applyDontFragment(request.dontFragment);
    const auto packet =
        icmp::buildEchoRequest(family_.family, identifier_, request.seq, request.payload);
    sockaddr_storage address;
    const socklen_t length = toSockaddr(family_, request.to, address);
    const ssize_t n = sendto(fd_, packet.data(), packet.size(), 0,
                             reinterpret_cast<sockaddr *>(&address), length);
    if (n < 0)
        return errno;
    return n == static_cast<ssize_t>(packet.size()) ? 0 : EMSGSIZE;
}

void IcmpSocketChannel::applyDontFragment(bool on)
{
    if (dontFragment_ == on)
        return;
    family_.dontFragment(fd_, on);
    dontFragment_ = on;
}

std::optional<EchoResult> IcmpSocketChannel::collect()
{
    // Stops only between batches, so that no packet is left held here
    // while the socket no longer wakes the event loop.
    for (int i = 0; i < foreignPerCollect || next_ < received_; ++i) {
        if (next_ == received_) {
            // A batch that left slots free emptied the queue when it was
            // read: say so now, and read again on the next wake-up, rather
            // than make a call that only finds the queue empty.
            if (drained_) {
                drained_ = false;
                return std::nullopt;
            }
            // Woken with nothing queued: an ICMP error waits on the error
            // queue (the kernel reports it to this read as a pending error).
            if (!receiveBatch())
                return kind_ == SocketKind::Datagram ? receiveError() : std::nullopt;
        }
        if (auto result = take(next_++))
            return result;
    }
    return std::nullopt; // the socket stays readable, so the event loop comes back
}

// Reads what waits, up to a batch, in one call; false when nothing was read.
bool IcmpSocketChannel::receiveBatch()
{
    // The kernel shortens each control length to what it wrote.
    for (size_t i = 0; i < batchSize; ++i)
        headers_[i].msg_hdr.msg_controllen = sizeof slots_[i].control;
    next_ = 0;
    const int n = recvmmsg(fd_, headers_.data(), batchSize, MSG_DONTWAIT, nullptr);
    received_ = n > 0 ? static_cast<size_t>(n) : 0;
    drained_ = received_ > 0 && received_ < batchSize;
    return received_ > 0;
}

// The result in slot `index`; nothing when the packet is not ours.
std::optional<EchoResult> IcmpSocketChannel::take(size_t index)
{
    msghdr &message = headers_[index].msg_hdr;
    std::optional<WallTime> at;
    int hops = -1;
    for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS &&
            c->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
            timespec stamp;
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            at = WallTime(std::chrono::duration_cast<WallClock::duration>(
                std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec)));
        } else if (c->cmsg_level == family_.level && c->cmsg_type == family_.hopsMessage &&
                   c->cmsg_len >= CMSG_LEN(sizeof(int))) {
            std::memcpy(&hops, CMSG_DATA(c), sizeof hops);
        } else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL &&
                   c->cmsg_len >= CMSG_LEN(sizeof(uint32_t))) {
            std::memcpy(&drops_, CMSG_DATA(c), sizeof drops_);
        }
    }
    const bool raw = kind_ == SocketKind::Raw;
    const auto bytes = std::span<const uint8_t>(slots_[index].data.get(), headers_[index].msg_len);
    const icmp::Message parsed =
        icmp::parse(family_.family, bytes, raw ? family_.rawFraming : icmp::Framing{});
    // A raw socket sees every echo reply and error of its family on this host.
    if (const auto *reply = std::get_if<icmp::EchoReply>(&parsed)) {
        if (!raw || reply->id == identifier_)
            return EchoResult{.kind = EchoResult::Kind::Reply,
                              .seq = reply->seq,
                              .payload = reply->payload,
                              .hops = reply->ttl >= 0 ? reply->ttl : hops,
                              .receivedAt = at.value_or(WallClock::now())};
    } else if (const auto *error = std::get_if<icmp::EchoError>(&parsed)) {
        if (!raw || error->id == identifier_)
            return EchoResult{.kind = EchoResult::Kind::IcmpError,
                              .seq = error->seq,
                              .type = error->type,
                              .code = error->code};
    }
    return std::nullopt;
}

// An ICMP error the kernel matched to a datagram socket: the quoted request,
// with the error's type and code.
std::optional<EchoResult> IcmpSocketChannel::receiveError()
{
    if (kind_ != SocketKind::Datagram)
        return std::nullopt;
    alignas(cmsghdr) char control[512];
    uint8_t quoted[576];
    for (int attempt = 0; attempt < foreignPerCollect; ++attempt) {
        iovec io{quoted, sizeof quoted};
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(fd_, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (n < 0)
            return std::nullopt;
        for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level != family_.level || c->cmsg_type != family_.receiveErrors ||
                c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err)))
                continue;
            sock_extended_err info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            // Local errors were already returned by the send that caused them.
            if (info.ee_origin != family_.errorOrigin)
                continue;
            const auto request = icmp::parseQuotedRequest(
                family_.family, std::span<const uint8_t>(quoted, static_cast<size_t>(n)));
            if (!request)
                continue;
            return EchoResult{.kind = EchoResult::Kind::IcmpError,
                              .seq = request->seq,
                              .type = info.ee_type,
                              .code = info.ee_code};
        }
    }
    return std::nullopt;
}
