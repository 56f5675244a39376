#pragma once

#include "IcmpFamily.h"

#include <array>
#include <cstdint>
#include <optional>

struct IpAddress {
    icmp::Family family = icmp::Family::V4;
    std::array<uint8_t, 16> bytes{}; // IPv4 uses the first four
    uint32_t scopeId = 0;            // the interface of an IPv6 link-local address

    bool operator==(const IpAddress &) const = default;
};

// The address to send to: v4-mapped IPv6 becomes the IPv4 address it holds,
// and an unspecified one is refused, as the kernel would deliver it to this
// machine under an address the user never named.
std::optional<IpAddress> pingable(IpAddress address);
