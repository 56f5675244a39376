#include "IcmpSocket.h"

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/capability.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <tuple>
#include <utility>

namespace {

constexpr size_t bufferSize = 65536 + 512;

int domainOf(icmp::Family f)
{
    return f == icmp::Family::V4 ? AF_INET : AF_INET6;
}

int protocolOf(icmp::Family f)
{
    return f == icmp::Family::V4 ? int(IPPROTO_ICMP) : int(IPPROTO_ICMPV6);
}

void enable(int fd, int level, int option)
{
    const int on = 1;
    setsockopt(fd, level, option, &on, sizeof on);
}

socklen_t toSockaddr(const IpAddress &address, sockaddr_storage &storage)
{
    std::memset(&storage, 0, sizeof storage);
    if (address.family == icmp::Family::V4) {
        auto &in = reinterpret_cast<sockaddr_in &>(storage);
        in.sin_family = AF_INET;
        std::memcpy(&in.sin_addr, address.bytes.data(), 4);
        return sizeof in;
    }
    auto &in6 = reinterpret_cast<sockaddr_in6 &>(storage);
    in6.sin6_family = AF_INET6;
    std::memcpy(&in6.sin6_addr, address.bytes.data(), 16);
    in6.sin6_scope_id = address.scopeId;
    return sizeof in6;
}

// Ask for the kernel's receive time and the hop limit with every packet, and
// only the ICMP types we read on raw sockets.
void configure(int fd, icmp::Family family, SocketKind kind)
{
    enable(fd, SOL_SOCKET, SO_TIMESTAMPNS);
    if (family == icmp::Family::V4) {
        enable(fd, IPPROTO_IP, IP_RECVTTL);
        if (kind == SocketKind::Datagram) {
            enable(fd, IPPROTO_IP, IP_RECVERR);
        } else {
            icmp_filter filter{};
            filter.data =
                ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_SOURCE_QUENCH) |
                  (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB));
            setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
        }
    } else {
        enable(fd, IPPROTO_IPV6, IPV6_RECVHOPLIMIT);
        if (kind == SocketKind::Datagram) {
            enable(fd, IPPROTO_IPV6, IPV6_RECVERR);
        } else {
            icmp6_filter filter;
            ICMP6_FILTER_SETBLOCKALL(&filter);
            for (int type : {ICMP6_ECHO_REPLY, ICMP6_DST_UNREACH, ICMP6_PACKET_TOO_BIG,
                             ICMP6_TIME_EXCEEDED, ICMP6_PARAM_PROB})
                ICMP6_FILTER_SETPASS(type, &filter);
            setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
        }
    }
}

// A datagram socket's identifier is its local port, assigned on bind.
uint16_t bindDatagram(int fd, icmp::Family family)
{
    sockaddr_storage local;
    IpAddress any;
    any.family = family;
    socklen_t length = toSockaddr(any, local);
    if (bind(fd, reinterpret_cast<sockaddr *>(&local), length) != 0)
        return 0;
    length = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length);
    const in_port_t port = family == icmp::Family::V4
                               ? reinterpret_cast<sockaddr_in &>(local).sin_port
                               : reinterpret_cast<sockaddr_in6 &>(local).sin6_port;
    return ntohs(port);
}

bool raiseNetRaw()
{
    cap_t caps = cap_get_proc();
    if (!caps)
        return false;
    const cap_value_t netRaw = CAP_NET_RAW;
    cap_flag_value_t permitted = CAP_CLEAR;
    cap_get_flag(caps, netRaw, CAP_PERMITTED, &permitted);
    bool raised = false;
    if (permitted == CAP_SET) {
        cap_set_flag(caps, CAP_EFFECTIVE, 1, &netRaw, CAP_SET);
        raised = cap_set_proc(caps) == 0;
    }
    cap_free(caps);
    return raised;
}

// A raw socket where the unprivileged kind failed; the error kept is the
// one that says more.
std::optional<IcmpSocket> openRaw(icmp::Family family, int &error)
{
    int rawError = 0;
    if (auto socket = IcmpSocket::open(family, SocketKind::Raw, rawError)) {
        error = 0;
        return socket;
    }
    if (rawError != EPERM && rawError != EACCES)
        error = rawError;
    return std::nullopt;
}

} // namespace

std::optional<IcmpSocket> IcmpSocket::open(icmp::Family family, SocketKind kind, int &error)
{
    const int type = kind == SocketKind::Datagram ? SOCK_DGRAM : SOCK_RAW;
    const int fd =
        socket(domainOf(family), type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocolOf(family));
    if (fd < 0) {
        error = errno;
        return std::nullopt;
    }
    configure(fd, family, kind);
    uint16_t identifier = 0;
    if (kind == SocketKind::Datagram) {
        identifier = bindDatagram(fd, family);
    } else {
        std::random_device random;
        identifier = static_cast<uint16_t>(random());
    }
    error = 0;
    return IcmpSocket(fd, family, kind, identifier);
}

IcmpSocket::IcmpSocket(int fd, icmp::Family family, SocketKind kind, uint16_t identifier)
    : fd_(fd), family_(family), kind_(kind), identifier_(identifier), buffer_(bufferSize)
{
}

IcmpSocket::IcmpSocket(IcmpSocket &&other) noexcept
    : fd_(std::exchange(other.fd_, -1)), family_(other.family_), kind_(other.kind_),
      identifier_(other.identifier_), buffer_(std::move(other.buffer_))
{
}

IcmpSocket &IcmpSocket::operator=(IcmpSocket &&other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        family_ = other.family_;
        kind_ = other.kind_;
        identifier_ = other.identifier_;
        buffer_ = std::move(other.buffer_);
    }
    return *this;
}

IcmpSocket::~IcmpSocket()
{
    if (fd_ >= 0)
        close(fd_);
}

icmp::Framing IcmpSocket::framing() const
{
    // Only raw IPv4 sockets pass the IP header and an unchecked checksum up;
    // the kernel verifies the ICMPv6 checksum itself.
    const bool raw4 = kind_ == SocketKind::Raw && family_ == icmp::Family::V4;
    return {.ipHeader = raw4, .verifyChecksum = raw4};
}

int IcmpSocket::send(const IpAddress &to, std::span<const uint8_t> packet)
{
    sockaddr_storage address;
    const socklen_t length = toSockaddr(to, address);
    const ssize_t n = sendto(fd_, packet.data(), packet.size(), 0,
                             reinterpret_cast<sockaddr *>(&address), length);
    if (n < 0)
        return errno;
    return n == static_cast<ssize_t>(packet.size()) ? 0 : EMSGSIZE;
}

void IcmpSocket::setDontFragment(bool on)
{
    if (family_ == icmp::Family::V4) {
        const int mode = on ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
        setsockopt(fd_, IPPROTO_IP, IP_MTU_DISCOVER, &mode, sizeof mode);
    } else {
        const int dontFragment = on ? 1 : 0;
        setsockopt(fd_, IPPROTO_IPV6, IPV6_DONTFRAG, &dontFragment, sizeof dontFragment);
    }
}

std::optional<ReceivedPacket> IcmpSocket::receive()
{
    alignas(cmsghdr) char control[256];
    iovec io{buffer_.data(), buffer_.size()};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(fd_, &message, MSG_DONTWAIT);
    if (n < 0)
        return std::nullopt;
    ReceivedPacket packet;
    packet.bytes = std::span<const uint8_t>(buffer_.data(), static_cast<size_t>(n));
    packet.wallNs = 0;
    for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS &&
            c->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
            timespec stamp;
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            packet.wallNs = int64_t(stamp.tv_sec) * 1'000'000'000 + stamp.tv_nsec;
        } else if (((c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL) ||
                    (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_HOPLIMIT)) &&
                   c->cmsg_len >= CMSG_LEN(sizeof(int))) {
            int hops = -1;
            std::memcpy(&hops, CMSG_DATA(c), sizeof hops);
            packet.hopLimit = hops;
        }
    }
    if (packet.wallNs == 0)
        packet.wallNs = wallClockNs();
    return packet;
}

std::optional<icmp::EchoError> IcmpSocket::receiveError()
{
    if (kind_ != SocketKind::Datagram)
        return std::nullopt;
    alignas(cmsghdr) char control[512];
    uint8_t quoted[576];
    for (int attempt = 0; attempt < 64; ++attempt) {
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
            const bool ip = (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR) ||
                            (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_RECVERR);
            if (!ip || c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err)))
                continue;
            sock_extended_err info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            // Local errors were already returned by the send that caused them.
            if (info.ee_origin != SO_EE_ORIGIN_ICMP && info.ee_origin != SO_EE_ORIGIN_ICMP6)
                continue;
            auto request = icmp::parseQuotedRequest(
                family_, std::span<const uint8_t>(quoted, static_cast<size_t>(n)));
            if (!request)
                continue;
            request->type = info.ee_type;
            request->code = info.ee_code;
            return request;
        }
    }
    return std::nullopt;
}

IcmpSockets openIcmpSockets()
{
    IcmpSockets sockets;
    sockets.v4 = IcmpSocket::open(icmp::Family::V4, SocketKind::Datagram, sockets.v4Error);
    sockets.v6 = IcmpSocket::open(icmp::Family::V6, SocketKind::Datagram, sockets.v6Error);
    if (sockets.v4 && sockets.v6)
        return sockets;
    raiseNetRaw();
    if (!sockets.v4)
        sockets.v4 = openRaw(icmp::Family::V4, sockets.v4Error);
    if (!sockets.v6)
        sockets.v6 = openRaw(icmp::Family::V6, sockets.v6Error);
    return sockets;
}

std::string socketAdvice(const IcmpSockets &sockets, const std::string &invokedAs)
{
    std::string families;
    int error = 0;
    for (const auto &[socket, family, familyError] :
         {std::tuple{&sockets.v4, "IPv4", sockets.v4Error},
          std::tuple{&sockets.v6, "IPv6", sockets.v6Error}}) {
        if (*socket)
            continue;
        families += families.empty() ? family : std::string(" and ") + family;
        if (error != EPERM && error != EACCES)
            error = familyError;
    }
    if (families.empty())
        return {};
    std::string line =
        "lagoscope: no ICMP socket for " + families + " (" + std::strerror(error) + ")";
    if (error != EPERM && error != EACCES)
        return line;
    // The file itself, however the program was started (found on PATH, or
    // through a link), so that the command works as it stands.
    std::error_code failed;
    const auto binary = std::filesystem::read_symlink("/proc/self/exe", failed);
    const std::string path = failed ? invokedAs : binary.string();
    return line +
           "; allow unprivileged ping with 'sudo sysctl -w net.ipv4.ping_group_range=\"0 "
           "2147483647\"' (and for good with 'echo net.ipv4.ping_group_range=0 2147483647 | "
           "sudo tee /etc/sysctl.d/60-ping.conf'), or let this program open raw sockets "
           "with 'sudo setcap cap_net_raw+p " +
           path + "'";
}

int64_t wallClockNs()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
}

int64_t monotonicNs()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}
