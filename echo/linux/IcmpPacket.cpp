#include "IcmpPacket.h"

// <linux/icmp.h> rather than <netinet/ip_icmp.h>, whose struct icmp would
// clash with our namespace of that name.
#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip6.h>

#include <algorithm>
#include <array>
#include <cstddef>

namespace icmp {

static_assert(headerSize == sizeof(icmphdr));
static_assert(maxPayload(Family::V4) == IP_MAXPACKET - sizeof(ip) - sizeof(icmphdr));
static_assert(maxPayload(Family::V6) == IP_MAXPACKET - sizeof(icmp6_hdr));

namespace {

uint16_t read16(std::span<const uint8_t> b, size_t at)
{
    return static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
}

// Length of a well-formed IPv4 header at the front of `b` carrying ICMP, or 0.
size_t ip4Header(std::span<const uint8_t> b)
{
    if (b.size() < sizeof(ip) || b[0] >> 4 != IPVERSION)
        return 0;
    const size_t length = size_t(b[0] & 0x0F) * 4;
    if (length < sizeof(ip) || length > b.size() || b[offsetof(ip, ip_p)] != IPPROTO_ICMP)
        return 0;
    return length;
}

// Length of the fixed IPv6 header at the front of `b` when ICMPv6 follows it,
// or 0; the request we quote carries no extension headers.
size_t ip6Header(std::span<const uint8_t> b)
{
    if (b.size() < sizeof(ip6_hdr) || b[0] >> 4 != 6 ||
        b[offsetof(ip6_hdr, ip6_nxt)] != IPPROTO_ICMPV6)
        return 0;
    return sizeof(ip6_hdr);
}

// What differs between the families, in one place.
struct Rules {
    Types types;
    bool senderChecksums; // ICMPv6's covers the addresses, so the kernel does it
    size_t (*quotedIpHeader)(std::span<const uint8_t>);
};

constexpr Rules v4{
    .types = {.echoRequest = ICMP_ECHO,
              .echoReply = ICMP_ECHOREPLY,
              .errors = {ICMP_DEST_UNREACH, ICMP_SOURCE_QUENCH, ICMP_TIME_EXCEEDED,
                         ICMP_PARAMETERPROB}},
    .senderChecksums = true,
    .quotedIpHeader = ip4Header,
};

constexpr Rules v6{
    .types = {.echoRequest = ICMP6_ECHO_REQUEST,
              .echoReply = ICMP6_ECHO_REPLY,
              .errors = {ICMP6_DST_UNREACH, ICMP6_PACKET_TOO_BIG, ICMP6_TIME_EXCEEDED,
                         ICMP6_PARAM_PROB}},
    .senderChecksums = false,
    .quotedIpHeader = ip6Header,
};

const Rules &rules(Family family)
{
    return family == Family::V4 ? v4 : v6;
}

bool isError(Family family, uint8_t type)
{
    const auto &errors = types(family).errors;
    return std::find(errors.begin(), errors.end(), type) != errors.end();
}

// The echo request quoted in an error, after the error's own header.
std::optional<EchoError> quotedEcho(Family family, std::span<const uint8_t> quoted)
{
    const size_t ip = rules(family).quotedIpHeader(quoted);
    if (ip == 0)
        return std::nullopt;
    return parseQuotedRequest(family, quoted.subspan(ip));
}

} // namespace

const Types &types(Family family)
{
    return rules(family).types;
}

uint16_t checksum(std::span<const uint8_t> bytes)
{
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2)
        sum += read16(bytes, i);
    if (i < bytes.size())
        sum += static_cast<uint32_t>(bytes[i] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

void writeChecksum(std::span<uint8_t> message)
{
    message[2] = message[3] = 0;
    const uint16_t sum = checksum(message);
    message[2] = static_cast<uint8_t>(sum >> 8);
    message[3] = static_cast<uint8_t>(sum);
}

std::vector<uint8_t> buildEchoRequest(Family family, uint16_t id, uint16_t seq,
                                      std::span<const uint8_t> payload)
{
    std::vector<uint8_t> packet(headerSize + payload.size());
    packet[0] = types(family).echoRequest;
    packet[4] = static_cast<uint8_t>(id >> 8);
    packet[5] = static_cast<uint8_t>(id);
    packet[6] = static_cast<uint8_t>(seq >> 8);
    packet[7] = static_cast<uint8_t>(seq);
    std::copy(payload.begin(), payload.end(), packet.begin() + headerSize);
    if (rules(family).senderChecksums)
        writeChecksum(packet);
    return packet;
}

std::vector<uint8_t> buildEchoReply(Family family, std::span<const uint8_t> request)
{
    std::vector<uint8_t> packet(request.begin(), request.end());
    if (packet.size() < headerSize)
        return packet;
    packet[0] = types(family).echoReply;
    packet[2] = packet[3] = 0;
    if (rules(family).senderChecksums)
        writeChecksum(packet);
    return packet;
}

Message parse(Family family, std::span<const uint8_t> packet, Framing framing)
{
    int ttl = -1;
    if (framing.ipHeader) {
        const size_t ip = ip4Header(packet);
        if (ip == 0)
            return {};
        const size_t total = read16(packet, offsetof(struct ip, ip_len));
        if (total < ip || total > packet.size())
            return {};
        ttl = packet[offsetof(struct ip, ip_ttl)];
        packet = packet.subspan(ip, total - ip);
    }
    if (packet.size() < headerSize)
        return {};
    if (framing.verifyChecksum && checksum(packet) != 0)
        return {};
    const uint8_t type = packet[0];
    if (type == types(family).echoReply) {
        if (packet[1] != 0)
            return {};
        return EchoReply{read16(packet, 4), read16(packet, 6), packet.subspan(headerSize), ttl};
    }
    if (isError(family, type)) {
        if (auto quoted = quotedEcho(family, packet.subspan(headerSize))) {
            quoted->type = type;
            quoted->code = packet[1];
            return *quoted;
        }
    }
    return {};
}

std::optional<EchoError> parseQuotedRequest(Family family, std::span<const uint8_t> quoted)
{
    if (quoted.size() < headerSize)
        return std::nullopt;
    if (quoted[0] != types(family).echoRequest || quoted[1] != 0)
        return std::nullopt;
    return EchoError{read16(quoted, 4), read16(quoted, 6), 0, 0};
}

} // namespace icmp
