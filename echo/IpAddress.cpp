#include "IpAddress.h"

#include <algorithm>

std::optional<IpAddress> pingable(IpAddress address)
{
    auto &b = address.bytes;
    const auto zero = [](auto first, auto last) {
        return std::all_of(first, last, [](uint8_t byte) { return byte == 0; });
    };
    if (address.family == icmp::Family::V6 && zero(b.begin(), b.begin() + 10) && b[10] == 0xFF &&
        b[11] == 0xFF) {
        std::copy(b.begin() + 12, b.end(), b.begin());
        std::fill(b.begin() + 4, b.end(), 0);
        address.family = icmp::Family::V4;
        address.scopeId = 0;
    }
    const size_t length = address.family == icmp::Family::V4 ? 4 : 16;
    if (zero(b.begin(), b.begin() + length))
        return std::nullopt;
    return address;
}
