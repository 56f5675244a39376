#include "EchoData.h"

namespace icmp {

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

} // namespace icmp
