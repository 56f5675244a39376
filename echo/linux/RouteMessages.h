#pragma once

#include "IpAddress.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The rtnetlink messages of a route lookup, as `ip route get` makes and
// reads them, as pure functions of bytes.
namespace route {

// RTM_GETROUTE for the route to `to`, numbered `seq`; a link-local IPv6
// address asks for its interface's route.
std::vector<uint8_t> lookupRequest(const IpAddress &to, uint32_t seq);

// What the kernel answered: the gateway of the route, with its interface as
// the scope of a link-local IPv6 one; none for a route without a gateway (a
// host on a link of this machine's, a local or broadcast address), for an
// error, or for anything truncated or malformed.
std::optional<IpAddress> gatewayIn(std::span<const uint8_t> reply, icmp::Family family,
                                   uint32_t seq);

} // namespace route
