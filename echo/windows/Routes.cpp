#include "Platform.h"
#include "SystemSockets.h"

#include <iphlpapi.h>
#include <netioapi.h>

#include <cstring>

std::optional<IpAddress> gatewayTo(const IpAddress &to)
{
    SOCKADDR_INET destination{};
    if (to.family == icmp::Family::V4) {
        destination.Ipv4.sin_family = AF_INET;
        std::memcpy(&destination.Ipv4.sin_addr, to.bytes.data(), 4);
    } else {
        destination.Ipv6.sin6_family = AF_INET6;
        std::memcpy(&destination.Ipv6.sin6_addr, to.bytes.data(), 16);
        destination.Ipv6.sin6_scope_id = to.scopeId;
    }
    MIB_IPFORWARD_ROW2 route{};
    SOCKADDR_INET source{};
    if (GetBestRoute2(nullptr, to.scopeId, nullptr, &destination, 0, &route, &source) != NO_ERROR)
        return std::nullopt;
    // A route on the link has no next hop: the unspecified address.
    IpAddress hop{.family = to.family, .bytes = {}, .scopeId = 0};
    const SOCKADDR_INET &next = route.NextHop;
    if (to.family == icmp::Family::V4 && next.si_family == AF_INET)
        std::memcpy(hop.bytes.data(), &next.Ipv4.sin_addr, 4);
    else if (to.family == icmp::Family::V6 && next.si_family == AF_INET6)
        std::memcpy(hop.bytes.data(), &next.Ipv6.sin6_addr, 16);
    else
        return std::nullopt;
    if (!pingable(hop))
        return std::nullopt;
    if (isLinkLocal(hop))
        hop.scopeId = route.InterfaceIndex;
    return hop;
}

// Windows names a zone by its number, as ipconfig shows it.
std::string interfaceName(uint32_t index)
{
    return std::to_string(index);
}
