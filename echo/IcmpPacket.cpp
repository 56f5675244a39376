#include "IcmpPacket.h"

namespace icmp {
namespace {

constexpr uint8_t echoReply4 = 0;
constexpr uint8_t echoRequest4 = 8;
constexpr uint8_t echoReply6 = 129;
constexpr uint8_t echoRequest6 = 128;
constexpr uint8_t protocolIcmp = 1;
constexpr uint8_t nextHeaderIcmp6 = 58;
constexpr size_t ip6HeaderSize = 40;

uint16_t read16(std::span<const uint8_t> b, size_t at)
{
    return static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
}

bool isError(Family family, uint8_t type)
{
    if (family == Family::V4)
        return type == 3 || type == 4 || type == 11 || type == 12; // unreachable, quench,
                                                                   // time exceeded, parameter
    return type >= 1 && type <= 4; // unreachable, too big, time exceeded, parameter
}

// Length of a well-formed IPv4 header at the front of `b` carrying `protocol`, or 0.
size_t ip4Header(std::span<const uint8_t> b, uint8_t protocol)
{
    if (b.size() < 20 || b[0] >> 4 != 4)
        return 0;
    const size_t length = size_t(b[0] & 0x0F) * 4;
    if (length < 20 || length > b.size() || b[9] != protocol)
        return 0;
    return length;
}

// The echo request quoted in an error, after the error's own header.
std::optional<EchoError> quotedEcho(Family family, std::span<const uint8_t> quoted)
{
    if (family == Family::V4) {
        const size_t ip = ip4Header(quoted, protocolIcmp);
        if (ip == 0)
            return std::nullopt;
        return parseQuotedRequest(family, quoted.subspan(ip));
    }
    if (quoted.size() < ip6HeaderSize || quoted[0] >> 4 != 6 || quoted[6] != nextHeaderIcmp6)
        return std::nullopt;
    return parseQuotedRequest(family, quoted.subspan(ip6HeaderSize));
}

} // namespace

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

std::vector<uint8_t> buildEchoRequest(Family family, uint16_t id, uint16_t seq,
                                      std::span<const uint8_t> payload)
{
    std::vector<uint8_t> packet(headerSize + payload.size());
    packet[0] = family == Family::V4 ? echoRequest4 : echoRequest6;
    packet[4] = static_cast<uint8_t>(id >> 8);
    packet[5] = static_cast<uint8_t>(id);
    packet[6] = static_cast<uint8_t>(seq >> 8);
    packet[7] = static_cast<uint8_t>(seq);
    std::copy(payload.begin(), payload.end(), packet.begin() + headerSize);
    if (family == Family::V4) {
        const uint16_t sum = checksum(packet);
        packet[2] = static_cast<uint8_t>(sum >> 8);
        packet[3] = static_cast<uint8_t>(sum);
    }
    return packet;
}

std::vector<uint8_t> payloadFor(uint64_t token, size_t size)
{
    std::vector<uint8_t> payload(size);
    uint64_t state = token;
    for (size_t i = 0; i < size; ++i) {
        if (i < 8) {
            payload[i] = static_cast<uint8_t>(token >> (8 * i));
            continue;
        }
        // xorshift: cheap, and different for every token
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        payload[i] = static_cast<uint8_t>(state);
    }
    return payload;
}

Message parse(Family family, std::span<const uint8_t> packet, Framing framing)
{
    int ttl = -1;
    if (framing.ipHeader) {
        const size_t ip = ip4Header(packet, protocolIcmp);
        if (ip == 0)
            return {};
        const size_t total = read16(packet, 2);
        if (total < ip || total > packet.size())
            return {};
        ttl = packet[8];
        packet = packet.subspan(ip, total - ip);
    }
    if (packet.size() < headerSize)
        return {};
    if (framing.verifyChecksum && checksum(packet) != 0)
        return {};
    const uint8_t type = packet[0];
    if (type == (family == Family::V4 ? echoReply4 : echoReply6)) {
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
    if (quoted[0] != (family == Family::V4 ? echoRequest4 : echoRequest6) || quoted[1] != 0)
        return std::nullopt;
    return EchoError{read16(quoted, 4), read16(quoted, 6), 0, 0};
}

} // namespace icmp
