#include "IpAddress.h"

#include <algorithm>

std::string addressText(const IpAddress &address)
{
    const auto &b = address.bytes;
    if (address.family == icmp::Family::V4)
        return std::to_string(b[0]) + '.' + std::to_string(b[1]) + '.' + std::to_string(b[2]) +
               '.' + std::to_string(b[3]);
    std::array<unsigned, 8> groups{};
    for (size_t i = 0; i < groups.size(); ++i)
        groups[i] = unsigned(b[2 * i]) << 8 | b[2 * i + 1];
    // The longest run of two or more zero groups, the first of equals, is "::".
    size_t runAt = groups.size();
    size_t runLength = 1;
    for (size_t i = 0; i < groups.size();) {
        size_t j = i;
        while (j < groups.size() && groups[j] == 0)
            ++j;
        if (j - i > runLength) {
            runAt = i;
            runLength = j - i;
        }
        i = j == i ? i + 1 : j;
    }
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < groups.size(); ++i) {
        if (i == runAt) {
            text += "::";
            i += runLength - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':')
            text += ':';
        bool leading = true;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const unsigned digit = groups[i] >> shift & 0xF;
            if (leading && digit == 0 && shift > 0)
                continue;
            leading = false;
            text += digits[digit];
        }
    }
    if (address.scopeId)
        text += '%' + std::to_string(address.scopeId);
    return text;
}

bool isLinkLocal(const IpAddress &address)
{
    return address.family == icmp::Family::V6 && address.bytes[0] == 0xFE &&
           (address.bytes[1] & 0xC0) == 0x80;
}

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
    if (zero(b.begin(), b.begin() + addressLength(address.family)))
        return std::nullopt;
    return address;
}
