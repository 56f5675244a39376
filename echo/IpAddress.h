#pragma once

#include "IcmpFamily.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

struct IpAddress {
    icmp::Family family = icmp::Family::V4;
    std::array<uint8_t, 16> bytes{}; // IPv4 uses the first four
    uint32_t scopeId = 0;            // the interface of an IPv6 link-local address

    bool operator==(const IpAddress &) const = default;
};

// How many of `bytes` an address of `family` uses.
constexpr size_t addressLength(icmp::Family family)
{
    return family == icmp::Family::V4 ? 4 : 16;
}

// Whether it is an IPv6 link-local address (fe80::/10), which is only
// reached through its interface.
bool isLinkLocal(const IpAddress &address);

// The address as text: dotted for IPv4; for IPv6 the short form of RFC 5952,
// with the interface number after a "%" where it has one.
std::string addressText(const IpAddress &address);

// The address to send to: v4-mapped IPv6 becomes the IPv4 address it holds,
// and an unspecified one is refused, as the kernel would deliver it to this
// machine under an address the user never named.
std::optional<IpAddress> pingable(IpAddress address);
