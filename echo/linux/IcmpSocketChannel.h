#pragma once

#include "EchoChannel.h"
#include "IcmpPacket.h"

#include <memory>
#include <optional>
#include <vector>

enum class SocketKind {
    Datagram, // unprivileged ICMP socket; the kernel owns the identifier
    Raw,      // needs CAP_NET_RAW; sees every ICMP message of its family
};

struct SocketFamily;

// An echo channel on a Linux ICMP socket. Requests are whole ICMP messages
// built here; replies carry the kernel's receive time, and ICMP errors come
// from the socket's error queue (datagram) or the socket itself (raw).
class IcmpSocketChannel : public EchoChannel {
  public:
    // Opens a socket of the given kind, or fails with an errno value.
    static std::unique_ptr<IcmpSocketChannel> open(icmp::Family family, SocketKind kind,
                                                   int &error);
    ~IcmpSocketChannel() override;

    int send(const EchoRequest &request) override;
    ReadyHandle readyHandle() const override { return fd_; }
    std::optional<EchoResult> collect() override;

    // Packets the kernel dropped because the socket's queue was full, as of
    // the last packet read.
    uint32_t kernelDrops() const { return drops_; }

  private:
    IcmpSocketChannel(int fd, const SocketFamily &family, SocketKind kind, uint16_t identifier);
    bool receive(std::optional<EchoResult> &result);
    std::optional<EchoResult> receiveError();
    void applyDontFragment(bool on);

    int fd_;
    const SocketFamily &family_;
    SocketKind kind_;
    uint16_t identifier_;
    std::optional<bool> dontFragment_; // as last set on the socket
    std::vector<uint8_t> buffer_;
    uint32_t drops_ = 0;
};
