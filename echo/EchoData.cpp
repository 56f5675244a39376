#include "EchoData.h"

#include <algorithm>

namespace icmp {

std::vector<uint8_t> payloadFor(uint64_t token, size_t size)
{
    std::vector<uint8_t> payload(size);
    const size_t tokenBytes = std::min<size_t>(size, sizeof token);
    for (size_t i = 0; i < tokenBytes; ++i)
        payload[i] = static_cast<uint8_t>(token >> (8 * i));
    uint64_t state = token;
    for (size_t i = tokenBytes; i < size; ++i) {
        // xorshift: cheap, and different for every token
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        payload[i] = static_cast<uint8_t>(state);
    }
    return payload;
}

} // namespace icmp
