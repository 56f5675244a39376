// The reader of the kernel's answer to a route lookup: the first byte
// chooses the family, the next four the request's number.
#include "RouteMessages.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 5)
        return 0;
    const auto family = data[0] & 1 ? icmp::Family::V6 : icmp::Family::V4;
    uint32_t seq;
    std::memcpy(&seq, data + 1, sizeof seq);
    if (const auto gateway = route::gatewayIn(std::span(data + 5, size - 5), family, seq);
        gateway && gateway->family != family)
        std::abort();
    return 0;
}
