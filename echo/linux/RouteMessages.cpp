#include "RouteMessages.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cstring>

namespace {

template <typename T> void append(std::vector<uint8_t> &bytes, const T &value)
{
    const auto *raw = reinterpret_cast<const uint8_t *>(&value);
    bytes.insert(bytes.end(), raw, raw + sizeof value);
}

void appendAttribute(std::vector<uint8_t> &bytes, uint16_t type, const void *data, size_t length)
{
    rtattr header{};
    header.rta_type = type;
    header.rta_len = uint16_t(RTA_LENGTH(length));
    append(bytes, header);
    const auto *raw = static_cast<const uint8_t *>(data);
    bytes.insert(bytes.end(), raw, raw + length);
    bytes.resize(bytes.size() + (RTA_ALIGN(length) - length));
}

// A copy of what `bytes` holds at `offset`, where it holds a whole one.
template <typename T> std::optional<T> read(std::span<const uint8_t> bytes, size_t offset)
{
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T))
        return std::nullopt;
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

} // namespace

std::vector<uint8_t> route::lookupRequest(const IpAddress &to, uint32_t seq)
{
    std::vector<uint8_t> bytes;
    nlmsghdr header{};
    header.nlmsg_type = RTM_GETROUTE;
    header.nlmsg_flags = NLM_F_REQUEST;
    header.nlmsg_seq = seq;
    append(bytes, header);
    rtmsg message{};
    message.rtm_family = to.family == icmp::Family::V4 ? AF_INET : AF_INET6;
    message.rtm_dst_len = uint8_t(8 * addressLength(to.family));
    append(bytes, message);
    appendAttribute(bytes, RTA_DST, to.bytes.data(), addressLength(to.family));
    if (to.scopeId) {
        const uint32_t interface = to.scopeId;
        appendAttribute(bytes, RTA_OIF, &interface, sizeof interface);
    }
    const auto length = uint32_t(bytes.size());
    std::memcpy(bytes.data() + offsetof(nlmsghdr, nlmsg_len), &length, sizeof length);
    return bytes;
}

std::optional<IpAddress> route::gatewayIn(std::span<const uint8_t> reply, icmp::Family family,
                                          uint32_t seq)
{
    size_t at = 0;
    while (const auto header = read<nlmsghdr>(reply, at)) {
        const size_t length = header->nlmsg_len;
        if (length < sizeof(nlmsghdr) || length > reply.size() - at)
            return std::nullopt;
        const auto message = reply.subspan(at, length);
        at += NLMSG_ALIGN(length);
        if (header->nlmsg_seq != seq)
            continue;
        if (header->nlmsg_type != RTM_NEWROUTE)
            return std::nullopt; // an error, or the end
        const auto route = read<rtmsg>(message, NLMSG_HDRLEN);
        if (!route || route->rtm_type != RTN_UNICAST ||
            route->rtm_family != (family == icmp::Family::V4 ? AF_INET : AF_INET6))
            return std::nullopt;
        std::optional<IpAddress> gateway;
        uint32_t interface = 0;
        for (size_t a = NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(rtmsg));
             const auto attribute = read<rtattr>(message, a);) {
            if (attribute->rta_len < sizeof(rtattr) || attribute->rta_len > message.size() - a)
                return std::nullopt;
            const auto data =
                message.subspan(a + RTA_LENGTH(0), attribute->rta_len - RTA_LENGTH(0));
            if (attribute->rta_type == RTA_GATEWAY && data.size() == addressLength(family)) {
                gateway = IpAddress{.family = family, .bytes = {}, .scopeId = 0};
                std::memcpy(gateway->bytes.data(), data.data(), data.size());
            } else if (attribute->rta_type == RTA_OIF && data.size() == sizeof interface) {
                std::memcpy(&interface, data.data(), sizeof interface);
            }
            a += RTA_ALIGN(attribute->rta_len);
        }
        if (gateway && isLinkLocal(*gateway))
            gateway->scopeId = interface;
        return gateway;
    }
    return std::nullopt;
}
