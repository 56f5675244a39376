#pragma once

#include "Clocks.h"
#include "IpAddress.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

// What a platform offers the engine for one address family: send an echo
// request, and collect what became of it. Each platform implements it once,
// in its own folder (linux/, windows/); the engine ties its ready handle to
// the event loop (Platform.h) and does all the bookkeeping.

// What the event loop waits on, as the platform's watch understands it: a
// descriptor on Linux, readable while results wait; an event on Windows,
// signalled while results wait (requests end in procedure calls on the
// thread that sent them, so that thread must wait alertably).
using ReadyHandle = std::intptr_t;

struct EchoRequest {
    IpAddress to;
    uint16_t seq = 0;
    std::span<const uint8_t> payload;
    // Platforms that time requests out themselves use it; the engine keeps
    // its own deadline either way.
    std::chrono::milliseconds timeout{0};
    bool dontFragment = false;
};

struct EchoResult {
    enum class Kind {
        Reply,     // an echo reply whose identifier is ours
        IcmpError, // an ICMP error that quotes one of our requests
        TimedOut,  // the platform gave up waiting
        Failed,    // the platform could not complete it; `systemError` says why
    };
    Kind kind = Kind::Reply;
    uint16_t seq = 0;
    std::span<const uint8_t> payload{}; // Reply: the echoed data, valid until the next collect
    int hops = -1;                      // Reply: TTL or hop limit, where known
    uint8_t type = 0;                   // IcmpError: the ICMP type and code
    uint8_t code = 0;
    int systemError = 0; // Failed: the platform's error code
    // Reply: the kernel's receive time, where the platform stamps packets.
    // Without it the engine measures the round trip on its monotonic clock.
    std::optional<WallTime> receivedAt{};
    // Reply: the round trip as the platform measured it, where it measures
    // it itself (the Windows API, in whole milliseconds). A busy moment on
    // the thread that collects the reply cannot lengthen it.
    std::optional<std::chrono::milliseconds> roundTrip{};
};

class EchoChannel {
  public:
    virtual ~EchoChannel() = default;
    EchoChannel() = default;
    EchoChannel(const EchoChannel &) = delete;
    EchoChannel &operator=(const EchoChannel &) = delete;

    // Hands one request to the system; 0 or the platform's error code.
    virtual int send(const EchoRequest &request) = 0;
    // Ready while results wait in the system.
    virtual ReadyHandle readyHandle() const = 0;
    // Never blocks: the next result, or nothing for now. Called until it
    // gives nothing, since a channel may hold results it read together,
    // which its handle no longer signals.
    virtual std::optional<EchoResult> collect() = 0;
};

struct EchoChannels {
    std::unique_ptr<EchoChannel> v4;
    std::unique_ptr<EchoChannel> v6;
    int v4Error = 0; // why a family has no channel, in the platform's codes
    int v6Error = 0;
};
