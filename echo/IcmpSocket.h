#pragma once

#include "IcmpPacket.h"
#include "IpAddress.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The platform's ICMP sockets behind a small portable face. The POSIX
// backend lives in posix/.

enum class SocketKind {
    Datagram, // unprivileged ICMP socket; the kernel owns the identifier
    Raw,      // needs CAP_NET_RAW; sees every ICMP message of its family
};

struct ReceivedPacket {
    std::span<const uint8_t> bytes; // valid until the next receive
    int64_t wallNs = 0;             // the kernel's receive time
    int hopLimit = -1;
};

class IcmpSocket {
  public:
    // Opens a socket of the given kind, or fails with an errno value.
    static std::optional<IcmpSocket> open(icmp::Family family, SocketKind kind, int &error);

    IcmpSocket(IcmpSocket &&other) noexcept;
    IcmpSocket &operator=(IcmpSocket &&other) noexcept;
    IcmpSocket(const IcmpSocket &) = delete;
    IcmpSocket &operator=(const IcmpSocket &) = delete;
    ~IcmpSocket();

    icmp::Family family() const { return family_; }
    SocketKind kind() const { return kind_; }
    int handle() const { return fd_; }
    icmp::Framing framing() const;
    // The echo identifier replies to this socket carry.
    uint16_t identifier() const { return identifier_; }

    // Hands one packet to the kernel; 0 or an errno value.
    int send(const IpAddress &to, std::span<const uint8_t> packet);
    void setDontFragment(bool on);

    // Non-blocking; nothing when the queue is empty.
    std::optional<ReceivedPacket> receive();
    // An ICMP error the kernel matched to this socket (datagram sockets
    // only): the quoted request, with the error's type and code.
    std::optional<icmp::EchoError> receiveError();

  private:
    IcmpSocket(int fd, icmp::Family family, SocketKind kind, uint16_t identifier);

    int fd_ = -1;
    icmp::Family family_;
    SocketKind kind_;
    uint16_t identifier_ = 0;
    std::vector<uint8_t> buffer_;
};

struct IcmpSockets {
    std::optional<IcmpSocket> v4;
    std::optional<IcmpSocket> v6;
    int v4Error = 0;
    int v6Error = 0;
};

// Opens one socket per family, preferring the unprivileged kind and falling
// back to raw sockets where the process may open them.
IcmpSockets openIcmpSockets();

// How to allow pinging when a family has no socket, in one line. It names
// the running program's file by its absolute path where the system tells it.
std::string socketAdvice(const IcmpSockets &sockets, const std::string &invokedAs);

int64_t wallClockNs();
int64_t monotonicNs();
