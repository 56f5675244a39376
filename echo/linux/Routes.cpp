#include "Platform.h"
#include "RouteMessages.h"

#include <linux/netlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>

std::optional<IpAddress> gatewayTo(const IpAddress &to)
{
    const int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return std::nullopt;
    // The kernel answers at once; this only bounds a kernel that would not.
    const timeval patience{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    static uint32_t seq = 0;
    const auto request = route::lookupRequest(to, ++seq);
    std::optional<IpAddress> gateway;
    std::array<uint8_t, 8192> reply;
    if (send(fd, request.data(), request.size(), 0) == ssize_t(request.size())) {
        const ssize_t n = recv(fd, reply.data(), reply.size(), 0);
        if (n > 0)
            gateway = route::gatewayIn(std::span(reply.data(), size_t(n)), to.family, seq);
    }
    close(fd);
    return gateway;
}

std::string interfaceName(uint32_t index)
{
    char name[IF_NAMESIZE];
    return if_indextoname(index, name) ? std::string(name) : std::to_string(index);
}
