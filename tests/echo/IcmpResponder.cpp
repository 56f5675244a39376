#include "IcmpResponder.h"

#include "Clocks.h"

#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto longestRun = std::chrono::minutes(5);

struct Outgoing {
    uint16_t seq;
    int64_t receivedNs; // the kernel's receive time of the request
    Clock::time_point due;
    std::vector<uint8_t> bytes;
    sockaddr_storage to;
    socklen_t toLength;
};

// An IPv6 header for the quote of an ICMPv6 error: loopback to loopback.
std::vector<uint8_t> loopbackIp6Header(size_t payloadLength)
{
    std::vector<uint8_t> h(40, 0);
    h[0] = 0x60;
    h[4] = uint8_t(payloadLength >> 8);
    h[5] = uint8_t(payloadLength);
    h[6] = 58;
    h[7] = 64;
    h[23] = 1;
    h[39] = 1;
    return h;
}

// Receives one packet with its kernel timestamp.
ssize_t receive(int fd, std::vector<uint8_t> &buffer, sockaddr_storage &from, socklen_t &fromLength,
                int64_t &receivedNs)
{
    alignas(cmsghdr) char control[128];
    iovec io{buffer.data(), buffer.size()};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(fd, &message, MSG_DONTWAIT);
    fromLength = message.msg_namelen;
    receivedNs = wallNs();
    for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec stamp;
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            receivedNs = int64_t(stamp.tv_sec) * 1'000'000'000 + stamp.tv_nsec;
        }
    }
    return n;
}

} // namespace

std::optional<IcmpResponder::Held> IcmpResponder::heldMs(uint16_t seq) const
{
    std::lock_guard lock(mutex_);
    const auto it = answered_.find(seq);
    return it == answered_.end() ? std::nullopt : std::optional(it->second.held);
}

std::vector<int64_t> IcmpResponder::requestTimesNs() const
{
    std::lock_guard lock(mutex_);
    return requestTimes_;
}

std::optional<int64_t> IcmpResponder::answeredAtNs(uint16_t seq) const
{
    std::lock_guard lock(mutex_);
    const auto it = answered_.find(seq);
    return it == answered_.end() ? std::nullopt : std::optional(it->second.atNs);
}

IcmpResponder::IcmpResponder(icmp::Family family, Script script)
    : family_(family), script_(std::move(script))
{
    const bool v4 = family == icmp::Family::V4;
    fd_ = socket(v4 ? AF_INET : AF_INET6, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC,
                 v4 ? int(IPPROTO_ICMP) : int(IPPROTO_ICMPV6));
    if (fd_ < 0)
        return;
    const int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    // Echo requests only.
    if (v4) {
        icmp_filter filter{};
        filter.data = ~(1u << ICMP_ECHO);
        setsockopt(fd_, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    } else {
        icmp6_filter filter;
        ICMP6_FILTER_SETBLOCKALL(&filter);
        ICMP6_FILTER_SETPASS(ICMP6_ECHO_REQUEST, &filter);
        setsockopt(fd_, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
    }
    thread_ = std::thread([this] { run(); });
}

IcmpResponder::~IcmpResponder()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (fd_ >= 0)
        close(fd_);
}

void IcmpResponder::run()
{
    const bool v4 = family_ == icmp::Family::V4;
    const auto end = Clock::now() + longestRun;
    std::vector<Outgoing> queue;
    std::vector<uint8_t> buffer(70000);
    while (!stop_ && Clock::now() < end) {
        std::chrono::nanoseconds wait = std::chrono::milliseconds(20);
        const auto now = Clock::now();
        for (const Outgoing &o : queue)
            wait = std::min(wait, std::max<std::chrono::nanoseconds>(o.due - now, {}));
        pollfd pfd{fd_, POLLIN, 0};
        const timespec timeout{0, static_cast<long>(wait.count())};
        ppoll(&pfd, 1, &timeout, nullptr);

        // Send what is due, in the order it fell due.
        std::stable_sort(queue.begin(), queue.end(),
                         [](const Outgoing &a, const Outgoing &b) { return a.due < b.due; });
        while (!queue.empty() && queue.front().due <= Clock::now()) {
            const Outgoing &o = queue.front();
            // Held from before the send until the answer is noted: whoever
            // has seen the answer arrive and asks about it waits for the note,
            // where it would otherwise find none if this thread lost the core
            // right after the send.
            std::lock_guard lock(mutex_);
            const int64_t before = wallNs();
            sendto(fd_, o.bytes.data(), o.bytes.size(), 0,
                   reinterpret_cast<const sockaddr *>(&o.to), o.toLength);
            const int64_t at = wallNs();
            answered_[o.seq] = {
                {double(before - o.receivedNs) / 1e6, double(at - o.receivedNs) / 1e6}, at};
            queue.erase(queue.begin());
        }

        for (int i = 0; i < 64; ++i) {
            sockaddr_storage from;
            socklen_t fromLength = 0;
            int64_t receivedNs = 0;
            const ssize_t n = receive(fd_, buffer, from, fromLength, receivedNs);
            if (n <= 0)
                break;
            std::span<const uint8_t> packet(buffer.data(), size_t(n));
            std::span<const uint8_t> ipHeader;
            if (v4) {
                const size_t ihl = size_t(packet[0] & 0x0F) * 4;
                ipHeader = packet.first(ihl);
                packet = packet.subspan(ihl);
            }
            const icmp::Family family = v4 ? icmp::Family::V4 : icmp::Family::V6;
            if (packet.size() < icmp::headerSize || packet[0] != icmp::types(family).echoRequest)
                continue;
            const uint16_t seq = uint16_t(packet[6] << 8 | packet[7]);
            {
                std::lock_guard lock(mutex_);
                requestTimes_.push_back(receivedNs);
            }
            const Action action = script_(seq);
            if (action.drop)
                continue;

            std::vector<uint8_t> reply = icmp::buildEchoReply(family, packet);
            if (action.unreachable) {
                std::vector<uint8_t> quote =
                    v4 ? std::vector<uint8_t>(ipHeader.begin(), ipHeader.end())
                       : loopbackIp6Header(packet.size());
                quote.insert(quote.end(), packet.begin(), packet.begin() + 8);
                reply = {uint8_t(v4 ? ICMP_DEST_UNREACH : ICMP6_DST_UNREACH),
                         uint8_t(v4 ? ICMP_HOST_UNREACH : ICMP6_DST_UNREACH_ADDR),
                         0,
                         0,
                         0,
                         0,
                         0,
                         0};
                reply.insert(reply.end(), quote.begin(), quote.end());
            } else {
                if (action.foreignId)
                    reply[4] ^= 0x55;
                if (action.corruption == Corruption::Truncate)
                    reply.pop_back();
                if (action.corruption == Corruption::Payload && reply.size() > icmp::headerSize)
                    reply.back() ^= 0x01;
            }
            if (v4)
                icmp::writeChecksum(reply);
            if (action.corruption == Corruption::Checksum)
                reply[2] ^= 0x10; // on IPv6 the kernel fills the checksum in anyway
            for (int copy = 0; copy < action.copies; ++copy)
                queue.push_back({seq, receivedNs,
                                 Clock::now() + std::chrono::milliseconds(action.delayMs), reply,
                                 from, fromLength});
        }
    }
}
