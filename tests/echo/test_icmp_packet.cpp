#include "EchoData.h"
#include "EchoFilter.h"
#include "IcmpPacket.h"

#include <QTest>

#include <sys/socket.h>
#include <unistd.h>

#include <array>

using namespace icmp;

namespace {
std::vector<uint8_t> ip4Header(size_t payloadLength, uint8_t ttl = 64, uint8_t protocol = 1)
{
    std::vector<uint8_t> h{0x45, 0, 0,   0, 0, 0, 0x40, 0, ttl, protocol,
                           0,    0, 127, 0, 0, 1, 127,  0, 0,   1};
    const size_t total = h.size() + payloadLength;
    h[2] = uint8_t(total >> 8);
    h[3] = uint8_t(total);
    return h;
}

std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Framing raw4{.ipHeader = true, .verifyChecksum = true};

// The same IPv4 header with four bytes of options.
std::vector<uint8_t> withOptions(std::vector<uint8_t> header)
{
    header[0] = 0x46;
    header.insert(header.begin() + 20, 4, 1);
    const size_t total = size_t(header[2] << 8 | header[3]) + 4;
    header[2] = uint8_t(total >> 8);
    header[3] = uint8_t(total);
    return header;
}

// Whether the kernel, running the filter, lets `packet` through: sent over
// a pair of local datagram sockets, the receiving one filtered.
bool passes(const std::vector<sock_filter> &filter, const std::vector<uint8_t> &packet)
{
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_DGRAM, 0, pair) != 0)
        qFatal("no socket pair");
    const sock_fprog program{static_cast<unsigned short>(filter.size()),
                             const_cast<sock_filter *>(filter.data())};
    if (setsockopt(pair[1], SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0)
        qFatal("the kernel refused the filter");
    send(pair[0], packet.data(), packet.size(), 0);
    uint8_t buffer[2048];
    const bool received = recv(pair[1], buffer, sizeof buffer, MSG_DONTWAIT) >= 0;
    close(pair[0]);
    close(pair[1]);
    return received;
}
const Framing bare{};
} // namespace

class TestIcmpPacket : public QObject {
    Q_OBJECT

  private slots:
    void checksumMatchesKnownValues()
    {
        // The example of RFC 1071, section 3.
        const std::array<uint8_t, 8> sample{0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
        QCOMPARE(checksum(sample), uint16_t(~0xddf2 & 0xFFFF));
        const std::array<uint8_t, 3> odd{0x01, 0x02, 0x03};
        QCOMPARE(checksum(odd), uint16_t(~(0x0102 + 0x0300) & 0xFFFF));
        QCOMPARE(checksum({}), 0xFFFF);
    }

    void requestsCarryIdSequenceAndData()
    {
        const auto payload = payloadFor(42, 32);
        const auto v4 = buildEchoRequest(Family::V4, 0x1234, 0xFFFE, payload);
        QCOMPARE(v4.size(), size_t(40));
        QCOMPARE(v4[0], 8);
        QCOMPARE(v4[4] << 8 | v4[5], 0x1234);
        QCOMPARE(v4[6] << 8 | v4[7], 0xFFFE);
        QCOMPARE(checksum(v4), 0);
        const auto v6 = buildEchoRequest(Family::V6, 1, 2, {});
        QCOMPARE(v6.size(), size_t(8));
        QCOMPARE(v6[0], 128);
    }

    void payloadsDifferPerToken()
    {
        QCOMPARE(payloadFor(7, 0).size(), size_t(0));
        QCOMPARE(payloadFor(7, 3), payloadFor(7, 3));
        QVERIFY(payloadFor(7, 64) != payloadFor(8, 64));
        // Beyond the token the pattern differs too, not just the first bytes.
        const auto a = payloadFor(1, 64);
        const auto b = payloadFor(2, 64);
        QVERIFY(!std::equal(a.begin() + 8, a.end(), b.begin() + 8));
    }

    void repliesParseOnEveryFraming()
    {
        const auto request = buildEchoRequest(Family::V4, 77, 5, payloadFor(1, 32));
        const auto reply = buildEchoReply(Family::V4, request);
        const auto framed = concat(ip4Header(reply.size(), 57), reply);
        const auto message = parse(Family::V4, framed, raw4);
        const auto *r = std::get_if<EchoReply>(&message);
        QVERIFY(r);
        QCOMPARE(r->id, 77);
        QCOMPARE(r->seq, 5);
        QCOMPARE(r->ttl, 57);
        QVERIFY(std::equal(r->payload.begin(), r->payload.end(), payloadFor(1, 32).begin()));

        const auto bareMessage = parse(Family::V4, reply, bare);
        QVERIFY(std::holds_alternative<EchoReply>(bareMessage));
        QCOMPARE(std::get<EchoReply>(bareMessage).ttl, -1);

        const auto v6 =
            buildEchoReply(Family::V6, buildEchoRequest(Family::V6, 3, 9, payloadFor(2, 4)));
        const auto m6 = parse(Family::V6, v6, bare);
        QVERIFY(std::holds_alternative<EchoReply>(m6));
        QCOMPARE(std::get<EchoReply>(m6).seq, 9);
        QCOMPARE(std::get<EchoReply>(m6).payload.size(), size_t(4));
    }

    void ignoresWhatIsNoReplyOfOurs()
    {
        const auto request = buildEchoRequest(Family::V4, 77, 5, payloadFor(1, 32));
        const auto reply = buildEchoReply(Family::V4, request);
        const auto framed = concat(ip4Header(reply.size()), reply);
        auto rejected = [](Family f, const std::vector<uint8_t> &bytes, Framing framing) {
            return std::holds_alternative<std::monostate>(parse(f, bytes, framing));
        };
        // Our own request, as a raw socket sees it on loopback.
        QVERIFY(rejected(Family::V4, concat(ip4Header(request.size()), request), raw4));
        // Corrupt data under the old checksum.
        auto corrupt = framed;
        corrupt.back() ^= 1;
        QVERIFY(rejected(Family::V4, corrupt, raw4));
        // Truncated: shorter than the IP header says, or than an ICMP header.
        QVERIFY(rejected(Family::V4, std::vector(framed.begin(), framed.end() - 1), raw4));
        QVERIFY(rejected(Family::V4, std::vector(reply.begin(), reply.begin() + 7), bare));
        QVERIFY(rejected(Family::V4, std::vector(framed.begin(), framed.begin() + 19), raw4));
        // Not ICMP, bad header length, wrong version, wrong code.
        QVERIFY(rejected(Family::V4, concat(ip4Header(reply.size(), 64, 17), reply), raw4));
        auto shortHeader = framed;
        shortHeader[0] = 0x44;
        QVERIFY(rejected(Family::V4, shortHeader, raw4));
        auto v6InV4 = framed;
        v6InV4[0] = 0x65;
        QVERIFY(rejected(Family::V4, v6InV4, raw4));
        auto coded = reply;
        coded[1] = 1;
        QVERIFY(rejected(Family::V4, coded, bare));
        // A v4 reply read as v6, and the reverse.
        QVERIFY(rejected(Family::V6, reply, bare));
        QVERIFY(rejected(Family::V4, buildEchoReply(Family::V6, request), bare));
        QVERIFY(rejected(Family::V4, {}, raw4));
    }

    void trailingPaddingIsCutByTheIpLength()
    {
        const auto reply =
            buildEchoReply(Family::V4, buildEchoRequest(Family::V4, 1, 2, payloadFor(3, 10)));
        auto padded = concat(ip4Header(reply.size()), reply);
        padded.insert(padded.end(), {0, 0, 0});
        const auto message = parse(Family::V4, padded, raw4);
        QVERIFY(std::holds_alternative<EchoReply>(message));
        QCOMPARE(std::get<EchoReply>(message).payload.size(), size_t(10));
    }

    void errorsNameTheQuotedRequest()
    {
        const auto request = buildEchoRequest(Family::V4, 300, 12, payloadFor(1, 32));
        auto quote =
            concat(ip4Header(request.size()), std::vector(request.begin(), request.begin() + 8));
        std::vector<uint8_t> error{3, 1, 0, 0, 0, 0, 0, 0};
        error = concat(error, quote);
        writeChecksum(error);
        const auto message = parse(Family::V4, concat(ip4Header(error.size()), error), raw4);
        const auto *e = std::get_if<EchoError>(&message);
        QVERIFY(e);
        QCOMPARE(e->id, 300);
        QCOMPARE(e->seq, 12);
        QCOMPARE(e->type, 3);
        QCOMPARE(e->code, 1);

        // An error about something else than an echo request is not ours.
        auto other = error;
        other[8 + 20] = 0; // the quoted message is a reply
        writeChecksum(other);
        QVERIFY(std::holds_alternative<std::monostate>(parse(Family::V4, other, bare)));
        // A quote cut short.
        QVERIFY(std::holds_alternative<std::monostate>(
            parse(Family::V4, std::vector(error.begin(), error.end() - 1), bare)));

        std::vector<uint8_t> error6{1, 4, 0, 0, 0, 0, 0, 0};
        std::vector<uint8_t> ip6(40, 0);
        ip6[0] = 0x60;
        ip6[6] = 58;
        error6 = concat(concat(error6, ip6), buildEchoRequest(Family::V6, 5, 6, {}));
        const auto m6 = parse(Family::V6, error6, bare);
        QVERIFY(std::holds_alternative<EchoError>(m6));
        QCOMPARE(std::get<EchoError>(m6).seq, 6);
        QCOMPARE(std::get<EchoError>(m6).code, 4);
        error6[8 + 6] = 17; // the quoted packet is not ICMPv6
        QVERIFY(std::holds_alternative<std::monostate>(parse(Family::V6, error6, bare)));
    }

    // The raw sockets' filter agrees with the parser on what is ours: our
    // echo replies and the errors quoting our requests, IP options or not.
    void theSocketFilterPassesWhatTheParserCallsOurs()
    {
        constexpr uint16_t ours = 0x4C41, theirs = 0x4C42;
        const auto payload = payloadFor(7, 24);
        struct Case {
            const char *what;
            Family family;
            std::vector<uint8_t> packet;
        };
        std::vector<Case> cases;

        const auto reply4 = [&](uint16_t id, uint8_t type = 0) {
            auto m = buildEchoRequest(Family::V4, id, 3, payload);
            m[0] = type;
            writeChecksum(m);
            return m;
        };
        const auto error4 = [&](uint8_t type, std::vector<uint8_t> quotedHeader,
                                std::vector<uint8_t> quotedMessage) {
            std::vector<uint8_t> m{type, 1, 0, 0, 0, 0, 0, 0};
            m = concat(concat(m, quotedHeader), quotedMessage);
            writeChecksum(m);
            return m;
        };
        const auto request4 = [&](uint16_t id) {
            const auto r = buildEchoRequest(Family::V4, id, 3, payload);
            return std::vector(r.begin(), r.begin() + 8);
        };
        const auto ip4 = [&](const std::vector<uint8_t> &m) {
            return concat(ip4Header(m.size()), m);
        };
        cases.push_back({"reply", Family::V4, ip4(reply4(ours))});
        cases.push_back({"foreign reply", Family::V4, ip4(reply4(theirs))});
        cases.push_back({"request", Family::V4, ip4(reply4(ours, 8))});
        cases.push_back({"unknown type", Family::V4, ip4(reply4(ours, 42))});
        cases.push_back({"reply after IP options", Family::V4,
                         concat(withOptions(ip4Header(reply4(ours).size())), reply4(ours))});
        cases.push_back({"truncated", Family::V4, ip4({0, 0, 0, 0, 0x4C, 0x41})});
        for (uint8_t type : types(Family::V4).errors)
            cases.push_back({"error", Family::V4, ip4(error4(type, ip4Header(8), request4(ours)))});
        cases.push_back({"error, quote with IP options", Family::V4,
                         ip4(error4(3, withOptions(ip4Header(8)), request4(ours)))});
        cases.push_back({"error quoting a foreign request", Family::V4,
                         ip4(error4(11, ip4Header(8), request4(theirs)))});
        cases.push_back(
            {"error quoting a reply", Family::V4, ip4(error4(3, ip4Header(8), reply4(ours)))});
        cases.push_back({"redirect", Family::V4, ip4(error4(5, ip4Header(8), request4(ours)))});

        const auto message6 = [&](uint16_t id, uint8_t type) {
            auto m = buildEchoRequest(Family::V6, id, 3, payload);
            m[0] = type;
            return m;
        };
        const auto error6 = [&](uint8_t type, uint16_t id, uint8_t next = 58) {
            std::vector<uint8_t> ip6(40, 0);
            ip6[0] = 0x60;
            ip6[6] = next;
            return concat(concat({type, 0, 0, 0, 0, 0, 0, 0}, ip6), message6(id, 128));
        };
        cases.push_back({"reply", Family::V6, message6(ours, 129)});
        cases.push_back({"foreign reply", Family::V6, message6(theirs, 129)});
        cases.push_back({"request", Family::V6, message6(ours, 128)});
        for (uint8_t type : types(Family::V6).errors)
            cases.push_back({"error", Family::V6, error6(type, ours)});
        cases.push_back({"error quoting a foreign request", Family::V6, error6(1, theirs)});
        cases.push_back({"error quoting UDP", Family::V6, error6(1, ours, 17)});
        cases.push_back({"truncated", Family::V6, {129, 0, 0, 0, 0x4C}});

        for (const Case &c : cases) {
            const Message m = parse(c.family, c.packet, c.family == Family::V4 ? raw4 : bare);
            bool parsedOurs = false;
            if (const auto *reply = std::get_if<EchoReply>(&m))
                parsedOurs = reply->id == ours;
            if (const auto *error = std::get_if<EchoError>(&m))
                parsedOurs = error->id == ours;
            const bool v4 = c.family == Family::V4;
            QVERIFY2(passes(echoFilter(c.family, ours), c.packet) == parsedOurs,
                     qPrintable(QString("%1 (%2)").arg(c.what, v4 ? "IPv4" : "IPv6")));
        }
        QVERIFY(passes(echoFilter(Family::V4, ours), cases[0].packet)); // not all dropped
    }

    void quotedRequestsFromTheErrorQueue()
    {
        const auto request = buildEchoRequest(Family::V6, 9, 65535, {});
        const auto quoted = parseQuotedRequest(Family::V6, request);
        QVERIFY(quoted);
        QCOMPARE(quoted->seq, 65535);
        QVERIFY(!parseQuotedRequest(Family::V4, request));
        QVERIFY(!parseQuotedRequest(Family::V6, std::vector(request.begin(), request.begin() + 7)));
    }
};

QTEST_APPLESS_MAIN(TestIcmpPacket)
#include "test_icmp_packet.moc"
