#pragma once

#include "IcmpPacket.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

// Foreign ICMP on this namespace's loopback, as fast as it goes up to a
// rate, for a bounded time: other programs' echo replies and requests, errors
// quoting their requests, unknown types and truncated messages. Without
// requests, a scripted responder under a heavy flood still hears ours.
class IcmpFlood {
  public:
    enum class Requests { Included, LeftOut };
    IcmpFlood(icmp::Family family, int packetsPerSecond, std::chrono::seconds longest,
              Requests requests = Requests::Included)
        : withRequests_(requests == Requests::Included)
    {
        const bool v4 = family == icmp::Family::V4;
        fd_ = socket(v4 ? AF_INET : AF_INET6, SOCK_RAW | SOCK_CLOEXEC,
                     v4 ? int(IPPROTO_ICMP) : int(IPPROTO_ICMPV6));
        if (fd_ < 0)
            return;
        thread_ = std::thread([=, this] { run(v4, packetsPerSecond, longest); });
    }
    ~IcmpFlood()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            close(fd_);
    }
    IcmpFlood(const IcmpFlood &) = delete;
    IcmpFlood &operator=(const IcmpFlood &) = delete;

    bool ok() const { return fd_ >= 0; }
    long sent() const { return sent_; }

  private:
    void run(bool v4, int rate, std::chrono::seconds longest)
    {
        const icmp::Types &types = icmp::types(v4 ? icmp::Family::V4 : icmp::Family::V6);
        const uint8_t reply = types.echoReply, request = types.echoRequest;
        const uint8_t unreachable = types.errors[0];
        sockaddr_storage to{};
        socklen_t length = 0;
        if (v4) {
            auto &in = reinterpret_cast<sockaddr_in &>(to);
            in.sin_family = AF_INET;
            in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof in;
        } else {
            auto &in6 = reinterpret_cast<sockaddr_in6 &>(to);
            in6.sin6_family = AF_INET6;
            in6.sin6_addr = in6addr_loopback;
            length = sizeof in6;
        }
        const auto end = std::chrono::steady_clock::now() + longest;
        const auto gap = std::chrono::microseconds(1'000'000 / rate);
        auto next = std::chrono::steady_clock::now();
        for (unsigned n = 0; !stop_ && std::chrono::steady_clock::now() < end; ++n) {
            const uint16_t foreignId = uint16_t(0xF000 + n % 16);
            const uint16_t seq = uint16_t(n % 64); // the numbers our requests use
            const std::vector<uint8_t> payload(n % 40, uint8_t(n));
            std::vector<uint8_t> message;
            switch (n % 5) {
            case 0:
                message = icmp::buildEchoRequest(icmp::Family::V4, foreignId, seq, payload);
                message[0] = reply;
                break;
            case 1:
                if (!withRequests_)
                    continue;
                message = icmp::buildEchoRequest(icmp::Family::V4, foreignId, seq, payload);
                message[0] = request;
                break;
            case 2: { // quotes a foreign request
                const size_t ipHeader = v4 ? 20 : 40;
                message.assign(icmp::headerSize + ipHeader, 0);
                message[0] = unreachable;
                message[1] = 1;
                message[8] = v4 ? 0x45 : 0x60;
                message[v4 ? 8 + 9 : 8 + 6] = v4 ? 1 : 58; // ICMP inside
                const auto quoted = icmp::buildEchoRequest(icmp::Family::V4, foreignId, seq, {});
                message.insert(message.end(), quoted.begin(), quoted.end());
                message[icmp::headerSize + ipHeader] = request;
                break;
            }
            case 3:
                message = {uint8_t(42 + n % 100), uint8_t(n), 0, 0, 1, 2, 3, 4, 5};
                break;
            default:
                message = {reply, 0, uint8_t(n)};
                break;
            }
            if (v4 && message.size() >= icmp::headerSize)
                icmp::writeChecksum(message);
            if (sendto(fd_, message.data(), message.size(), 0, reinterpret_cast<sockaddr *>(&to),
                       length) > 0)
                ++sent_;
            next += gap;
            std::this_thread::sleep_until(next);
        }
    }

    bool withRequests_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<long> sent_{0};
    std::thread thread_;
};
