#include "HostLookup.h"

// getaddrinfo is the same call in POSIX and in Winsock; only the headers
// and the start differ.
#include "SystemSockets.h"

#include <cstring>

LookupResult lookUpHost(const std::string &name, bool literalOnly)
{
    if (!socketsStarted())
        return {.addresses = {}, .error = EAI_FAIL};
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_RAW; // one answer per address, not one per socket type
    hints.ai_flags = literalOnly ? AI_NUMERICHOST : 0;
    addrinfo *found = nullptr;
    LookupResult result;
    result.error = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    result.temporary = result.error == EAI_AGAIN;
    if (result.error != 0)
        return result;
    for (const addrinfo *a = found; a; a = a->ai_next) {
        IpAddress address;
        if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in)) {
            const auto *in = reinterpret_cast<const sockaddr_in *>(a->ai_addr);
            std::memcpy(address.bytes.data(), &in->sin_addr, sizeof in->sin_addr);
        } else if (a->ai_family == AF_INET6 && a->ai_addrlen >= sizeof(sockaddr_in6)) {
            const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(a->ai_addr);
            address.family = icmp::Family::V6;
            std::memcpy(address.bytes.data(), &in6->sin6_addr, sizeof in6->sin6_addr);
            address.scopeId = in6->sin6_scope_id;
        } else {
            continue;
        }
        result.addresses.push_back(address);
    }
    freeaddrinfo(found);
    return result;
}
