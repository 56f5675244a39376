#pragma once

#include "IcmpFamily.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <variant>
#include <vector>

// ICMP echo messages for both address families, as pure functions of bytes,
// for platforms whose sockets send and receive whole ICMP messages.
namespace icmp {

// The message types read and written here, per family.
struct Types {
    uint8_t echoRequest;
    uint8_t echoReply;
    std::array<uint8_t, 4> errors; // the error types that quote the offending packet
};
const Types &types(Family family);

// The RFC 1071 internet checksum.
uint16_t checksum(std::span<const uint8_t> bytes);
// Fills in the checksum field of a whole ICMP message (at least a header).
void writeChecksum(std::span<uint8_t> message);

// An echo request: header and payload. The IPv4 checksum is filled in; the
// kernel computes the ICMPv6 one, which covers the addresses.
std::vector<uint8_t> buildEchoRequest(Family family, uint16_t id, uint16_t seq,
                                      std::span<const uint8_t> payload);
// The reply an answering host makes of a whole echo request, checksummed the
// same way.
std::vector<uint8_t> buildEchoReply(Family family, std::span<const uint8_t> request);

struct EchoReply {
    uint16_t id = 0;
    uint16_t seq = 0;
    std::span<const uint8_t> payload;
    int ttl = -1; // from the IPv4 header, where the packet has one
};

// An ICMP error that quotes one of the echo requests.
struct EchoError {
    uint16_t id = 0;
    uint16_t seq = 0;
    uint8_t type = 0;
    uint8_t code = 0;
};

using Message = std::variant<std::monostate, EchoReply, EchoError>;

struct Framing {
    bool ipHeader = false;       // IPv4 raw sockets deliver the IP header
    bool verifyChecksum = false; // the kernel has not checked it for us
};

// Reads one received packet; anything that is neither an echo reply nor an
// error quoting an echo request, or that is truncated or corrupt, is monostate.
Message parse(Family family, std::span<const uint8_t> packet, Framing framing);

// Reads the echo request that an error queue hands back with an ICMP error.
std::optional<EchoError> parseQuotedRequest(Family family, std::span<const uint8_t> quoted);

} // namespace icmp
