// The route lookup's messages, as the kernel's rtnetlink makes and reads them.
#include "RouteMessages.h"

#include <QTest>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cstring>

namespace {

// A reply as the kernel writes one: a route of `type` with `attributes`.
struct Reply {
    std::vector<uint8_t> bytes;

    explicit Reply(uint8_t family, uint8_t type = RTN_UNICAST, uint32_t seq = 7,
                   uint16_t kind = RTM_NEWROUTE)
    {
        nlmsghdr header{};
        header.nlmsg_type = kind;
        header.nlmsg_seq = seq;
        rtmsg route{};
        route.rtm_family = family;
        route.rtm_type = type;
        put(&header, sizeof header);
        put(&route, sizeof route);
    }
    Reply &attribute(uint16_t type, std::vector<uint8_t> data)
    {
        rtattr a{};
        a.rta_type = type;
        a.rta_len = uint16_t(RTA_LENGTH(data.size()));
        put(&a, sizeof a);
        put(data.data(), data.size());
        bytes.resize(NLMSG_ALIGN(bytes.size()));
        return *this;
    }
    std::vector<uint8_t> done() const
    {
        std::vector<uint8_t> out = bytes;
        const auto length = uint32_t(out.size());
        std::memcpy(out.data(), &length, sizeof length);
        return out;
    }
    void put(const void *data, size_t n)
    {
        const auto *raw = static_cast<const uint8_t *>(data);
        bytes.insert(bytes.end(), raw, raw + n);
    }
};

std::vector<uint8_t> interface(uint32_t index)
{
    std::vector<uint8_t> bytes(4);
    std::memcpy(bytes.data(), &index, 4);
    return bytes;
}

const std::vector<uint8_t> linkLocal{0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

} // namespace

class TestRouteMessages : public QObject {
    Q_OBJECT

  private slots:
    void theRequestAsksForOneAddress()
    {
        const IpAddress to{.family = icmp::Family::V6,
                           .bytes = {0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2},
                           .scopeId = 4};
        const auto request = route::lookupRequest(to, 9);
        nlmsghdr header;
        std::memcpy(&header, request.data(), sizeof header);
        QCOMPARE(header.nlmsg_len, uint32_t(request.size()));
        QCOMPARE(header.nlmsg_type, uint16_t(RTM_GETROUTE));
        QCOMPARE(header.nlmsg_seq, 9u);
        rtmsg message;
        std::memcpy(&message, request.data() + NLMSG_HDRLEN, sizeof message);
        QCOMPARE(message.rtm_family, uint8_t(AF_INET6));
        QCOMPARE(message.rtm_dst_len, uint8_t(128));
        // The destination, then the interface a link-local address is on.
        const size_t first = NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(rtmsg));
        rtattr dst;
        std::memcpy(&dst, request.data() + first, sizeof dst);
        QCOMPARE(dst.rta_type, uint16_t(RTA_DST));
        QVERIFY(std::memcmp(request.data() + first + RTA_LENGTH(0), to.bytes.data(), 16) == 0);
        rtattr oif;
        std::memcpy(&oif, request.data() + first + RTA_ALIGN(dst.rta_len), sizeof oif);
        QCOMPARE(oif.rta_type, uint16_t(RTA_OIF));
    }

    void aReplyNamesTheGatewayAndItsInterface()
    {
        const auto v4 = route::gatewayIn(Reply(AF_INET)
                                             .attribute(RTA_OIF, interface(3))
                                             .attribute(RTA_GATEWAY, {192, 0, 2, 1})
                                             .done(),
                                         icmp::Family::V4, 7);
        QVERIFY(v4);
        QCOMPARE(addressText(*v4), "192.0.2.1"); // no zone for IPv4
        const auto v6 = route::gatewayIn(Reply(AF_INET6)
                                             .attribute(RTA_GATEWAY, linkLocal)
                                             .attribute(RTA_OIF, interface(5))
                                             .done(),
                                         icmp::Family::V6, 7);
        QVERIFY(v6);
        QCOMPARE(addressText(*v6), "fe80::1%5");
    }

    // On the link, local, an error, another question's answer, the other
    // family, or bytes cut short: no gateway.
    void anythingElseHasNone()
    {
        const auto gateway = [](uint8_t family, uint8_t type) {
            return Reply(family, type).attribute(RTA_GATEWAY, {192, 0, 2, 1}).done();
        };
        QVERIFY(!route::gatewayIn(Reply(AF_INET).attribute(RTA_OIF, interface(2)).done(),
                                  icmp::Family::V4, 7));
        QVERIFY(!route::gatewayIn(gateway(AF_INET, RTN_LOCAL), icmp::Family::V4, 7));
        QVERIFY(!route::gatewayIn(Reply(AF_INET, RTN_UNICAST, 7, NLMSG_ERROR).done(),
                                  icmp::Family::V4, 7));
        QVERIFY(!route::gatewayIn(gateway(AF_INET, RTN_UNICAST), icmp::Family::V4, 8));
        QVERIFY(!route::gatewayIn(gateway(AF_INET, RTN_UNICAST), icmp::Family::V6, 7));
        const auto whole = gateway(AF_INET, RTN_UNICAST);
        for (size_t cut = 0; cut < whole.size(); ++cut)
            QVERIFY(!route::gatewayIn(std::span(whole.data(), cut), icmp::Family::V4, 7));
        QVERIFY(route::gatewayIn(whole, icmp::Family::V4, 7));
    }
};

QTEST_MAIN(TestRouteMessages)
#include "test_route_messages.moc"
