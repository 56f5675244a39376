// Every reader of bytes that arrive from the network: received packets of
// both families, with and without an IPv4 header and checksum check (the
// socket kinds), and the request an error queue quotes. The first byte
// chooses the reader.
#include "IcmpPacket.h"

#include <cstdlib>

namespace {
// Reads every byte a result points at, so that a span reaching past the
// packet is caught.
unsigned touch(std::span<const uint8_t> bytes)
{
    unsigned sum = 0;
    for (uint8_t b : bytes)
        sum += b;
    return sum;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t choice = data[0];
    const std::span<const uint8_t> bytes(data + 1, size - 1);
    const auto family = choice & 1 ? icmp::Family::V6 : icmp::Family::V4;
    if (choice & 8) {
        if (const auto request = icmp::parseQuotedRequest(family, bytes); request && request->type)
            std::abort(); // the quote alone never knows the error's type
        return 0;
    }
    const icmp::Framing framing{.ipHeader = (choice & 2) != 0, .verifyChecksum = (choice & 4) != 0};
    const icmp::Message message = icmp::parse(family, bytes, framing);
    if (const auto *reply = std::get_if<icmp::EchoReply>(&message)) {
        const auto *end = bytes.data() + bytes.size();
        if (reply->payload.data() < bytes.data() ||
            reply->payload.data() + reply->payload.size() > end)
            std::abort();
        volatile unsigned sum = touch(reply->payload);
        (void)sum;
    }
    return 0;
}
