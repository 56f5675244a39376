#pragma once

#include "EchoChannel.h"
#include "IcmpPacket.h"

#include <sys/socket.h>

#include <array>
#include <memory>
#include <optional>

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
    ReadyHandle readyHandle() const override { return fd_; } // a descriptor
    std::optional<EchoResult> collect() override;

    // Packets the kernel dropped because the socket's queue was full, as of
    // the last packet read.
    uint32_t kernelDrops() const { return drops_; }

  private:
    IcmpSocketChannel(int fd, const SocketFamily &family, SocketKind kind, uint16_t identifier);
    bool receiveBatch();
    std::optional<EchoResult> take(size_t index);
    std::optional<EchoResult> receiveError();
    void applyDontFragment(bool on);

    int fd_;
    const SocketFamily &family_;
    SocketKind kind_;
    uint16_t identifier_;
    std::optional<bool> dontFragment_; // as last set on the socket
    uint32_t drops_ = 0;

    // Packets are read a batch at a time and handed out one by one.
    static constexpr size_t batchSize = 8;
    static constexpr size_t bufferSize = 65536 + 512; // the largest IP packet, and some
    struct Slot {
        std::unique_ptr<uint8_t[]> data;
        iovec io{};
        alignas(cmsghdr) char control[256]{};
    };
    std::array<Slot, batchSize> slots_;
    std::array<mmsghdr, batchSize> headers_{};
    size_t next_ = 0;     // the next slot to hand out
    size_t received_ = 0; // slots the last read filled
    bool drained_ = false;
};
