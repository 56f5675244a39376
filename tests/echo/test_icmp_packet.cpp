#include "EchoData.h"
#include "IcmpPacket.h"

#include <QTest>

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

// The echo request turned into its reply, as an answering host does.
std::vector<uint8_t> replyTo(std::vector<uint8_t> request, Family family)
{
    request[0] = family == Family::V4 ? 0 : 129;
    request[2] = request[3] = 0;
    if (family == Family::V4) {
        const uint16_t sum = checksum(request);
        request[2] = uint8_t(sum >> 8);
        request[3] = uint8_t(sum);
    }
    return request;
}

const Framing raw4{.ipHeader = true, .verifyChecksum = true};
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
        const auto reply = replyTo(request, Family::V4);
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

        const auto v6 = replyTo(buildEchoRequest(Family::V6, 3, 9, payloadFor(2, 4)), Family::V6);
        const auto m6 = parse(Family::V6, v6, bare);
        QVERIFY(std::holds_alternative<EchoReply>(m6));
        QCOMPARE(std::get<EchoReply>(m6).seq, 9);
        QCOMPARE(std::get<EchoReply>(m6).payload.size(), size_t(4));
    }

    void ignoresWhatIsNoReplyOfOurs()
    {
        const auto request = buildEchoRequest(Family::V4, 77, 5, payloadFor(1, 32));
        const auto reply = replyTo(request, Family::V4);
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
        QVERIFY(rejected(Family::V4, replyTo(request, Family::V6), bare));
        QVERIFY(rejected(Family::V4, {}, raw4));
    }

    void trailingPaddingIsCutByTheIpLength()
    {
        const auto reply =
            replyTo(buildEchoRequest(Family::V4, 1, 2, payloadFor(3, 10)), Family::V4);
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
        const uint16_t sum = checksum(error);
        error[2] = uint8_t(sum >> 8);
        error[3] = uint8_t(sum);
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
        other[2] = other[3] = 0;
        const uint16_t otherSum = checksum(other);
        other[2] = uint8_t(otherSum >> 8);
        other[3] = uint8_t(otherSum);
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
