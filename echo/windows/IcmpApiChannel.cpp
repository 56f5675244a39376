#include "IcmpApiChannel.h"

// The order of these headers matters, so each stands alone: winsock2 before
// windows, and the IP helper's types before the ICMP API that uses them.
#include <winsock2.h>

#include <ws2tcpip.h>

#include <windows.h>

#include <winternl.h>

#include <iphlpapi.h>

// The completion routine as Vista and later declare it, with winternl.h's type.
#define PIO_APC_ROUTINE_DEFINED
#include <icmpapi.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <limits>
#include <span>

namespace {

// The reply the API writes for IPv6, which mingw-w64's headers lack; it has
// the layout of the Windows SDK's ICMPV6_ECHO_REPLY, and the echoed data
// follows it.
struct Icmp6EchoReply {
    IPV6_ADDRESS_EX Address;
    ULONG Status;
    unsigned int RoundTripTime;
};
static_assert(offsetof(Icmp6EchoReply, Status) == 28 && sizeof(Icmp6EchoReply) == 36);

// What the API wrote for one request.
struct Outcome {
    ULONG status = IP_GENERAL_FAILURE;
    std::span<const uint8_t> data;
    int hops = -1;
    unsigned long roundTripMs = 0; // the system's own measure
};

// An IP_STATUS that stands for an ICMP error, as its type and code. The
// types come from the system's headers; the codes (RFC 792 and RFC 4443)
// have no names there.
struct IcmpErrorStatus {
    ULONG status;
    uint8_t type;
    uint8_t code;
};

constexpr std::array<IcmpErrorStatus, 9> errors4{{
    {IP_DEST_NET_UNREACHABLE, ICMP4_DST_UNREACH, 0},
    {IP_DEST_HOST_UNREACHABLE, ICMP4_DST_UNREACH, 1},
    {IP_DEST_PROT_UNREACHABLE, ICMP4_DST_UNREACH, 2},
    {IP_DEST_PORT_UNREACHABLE, ICMP4_DST_UNREACH, 3},
    {IP_PACKET_TOO_BIG, ICMP4_DST_UNREACH, 4}, // fragmentation needed
    {IP_SOURCE_QUENCH, ICMP4_SOURCE_QUENCH, 0},
    {IP_TTL_EXPIRED_TRANSIT, ICMP4_TIME_EXCEEDED, 0},
    {IP_TTL_EXPIRED_REASSEM, ICMP4_TIME_EXCEEDED, 1},
    {IP_PARAM_PROBLEM, ICMP4_PARAM_PROB, 0},
}};

constexpr std::array<IcmpErrorStatus, 9> errors6{{
    {IP_DEST_NO_ROUTE, ICMP6_DST_UNREACH, 0},
    {IP_DEST_PROHIBITED, ICMP6_DST_UNREACH, 1},
    {IP_DEST_SCOPE_MISMATCH, ICMP6_DST_UNREACH, 2},
    {IP_DEST_ADDR_UNREACHABLE, ICMP6_DST_UNREACH, 3},
    {IP_DEST_PORT_UNREACHABLE, ICMP6_DST_UNREACH, 4},
    {IP_PACKET_TOO_BIG, ICMP6_PACKET_TOO_BIG, 0},
    {IP_HOP_LIMIT_EXCEEDED, ICMP6_TIME_EXCEEDED, 0},
    {IP_REASSEMBLY_TIME_EXCEEDED, ICMP6_TIME_EXCEEDED, 1},
    {IP_PARAMETER_PROBLEM, ICMP6_PARAM_PROB, 0},
}};

// What the API calls when a request ends; `context` is the request.
VOID NTAPI requestEnded(PVOID context, PIO_STATUS_BLOCK, ULONG);

DWORD send4(HANDLE icmp, void *context, const EchoRequest &request, IP_OPTION_INFORMATION *options,
            std::span<uint8_t> reply)
{
    IPAddr to;
    std::memcpy(&to, request.to.bytes.data(), sizeof to);
    return IcmpSendEcho2(
        icmp, nullptr, requestEnded, context, to, const_cast<uint8_t *>(request.payload.data()),
        static_cast<WORD>(request.payload.size()), options, reply.data(),
        static_cast<DWORD>(reply.size()), static_cast<DWORD>(request.timeout.count()));
}

DWORD send6(HANDLE icmp, void *context, const EchoRequest &request, IP_OPTION_INFORMATION *options,
            std::span<uint8_t> reply)
{
    sockaddr_in6 from{};
    from.sin6_family = AF_INET6; // any source address the system picks
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    std::memcpy(&to.sin6_addr, request.to.bytes.data(), sizeof to.sin6_addr);
    to.sin6_scope_id = request.to.scopeId;
    return Icmp6SendEcho2(icmp, nullptr, requestEnded, context, &from, &to,
                          const_cast<uint8_t *>(request.payload.data()),
                          static_cast<WORD>(request.payload.size()), options, reply.data(),
                          static_cast<DWORD>(reply.size()),
                          static_cast<DWORD>(request.timeout.count()));
}

// The data pointer is the API's; a reply is only believed inside our buffer.
Outcome read4(std::span<uint8_t> reply, size_t)
{
    IcmpParseReplies(reply.data(), static_cast<DWORD>(reply.size()));
    ICMP_ECHO_REPLY echo;
    std::memcpy(&echo, reply.data(), sizeof echo);
    Outcome outcome{.status = echo.Status,
                    .data = {},
                    .hops = echo.Options.Ttl,
                    .roundTripMs = echo.RoundTripTime};
    const auto *data = static_cast<const uint8_t *>(echo.Data);
    const auto *begin = reply.data();
    if (data >= begin && echo.DataSize <= reply.size() - size_t(data - begin))
        outcome.data = std::span<const uint8_t>(data, echo.DataSize);
    return outcome;
}

// The IPv6 reply states neither its data size nor its hop limit: the data
// is taken to be as long as the request's, and the engine checks it.
Outcome read6(std::span<uint8_t> reply, size_t payloadSize)
{
    Icmp6ParseReplies(reply.data(), static_cast<DWORD>(reply.size()));
    Icmp6EchoReply echo;
    std::memcpy(&echo, reply.data(), sizeof echo);
    return {.status = echo.Status,
            .data = reply.subspan(sizeof echo, payloadSize),
            .hops = -1,
            .roundTripMs = echo.RoundTripTime};
}

// The system's default TTL, which a request must state when it sets flags.
UCHAR defaultTtl(ULONG family)
{
    MIB_IPSTATS stats{};
    if (GetIpStatisticsEx(&stats, family) == NO_ERROR && stats.dwDefaultTTL <= 255)
        return static_cast<UCHAR>(stats.dwDefaultTTL);
    return 128; // what Windows uses unless told otherwise
}

} // namespace

// What differs between the families on the ICMP helper API, in one place.
struct ApiFamily {
    icmp::Family family;
    ULONG addressFamily;
    HANDLE(WINAPI *create)();
    size_t replyHeader;
    DWORD (*send)(HANDLE, void *, const EchoRequest &, IP_OPTION_INFORMATION *, std::span<uint8_t>);
    Outcome (*read)(std::span<uint8_t>, size_t);
    std::span<const IcmpErrorStatus> errors;
};

namespace {

const ApiFamily v4{
    .family = icmp::Family::V4,
    .addressFamily = AF_INET,
    .create = IcmpCreateFile,
    .replyHeader = sizeof(ICMP_ECHO_REPLY),
    .send = send4,
    .read = read4,
    .errors = errors4,
};

const ApiFamily v6{
    .family = icmp::Family::V6,
    .addressFamily = AF_INET6,
    .create = Icmp6CreateFile,
    .replyHeader = sizeof(Icmp6EchoReply),
    .send = send6,
    .read = read6,
    .errors = errors6,
};

// Room the API asks for beyond the reply header and the echoed data: the
// eight bytes of an ICMP error, and the I/O status block it keeps there.
constexpr size_t replySlack = 8 + sizeof(IO_STATUS_BLOCK);

// How long closing a channel lets requests in flight end before it leaves
// them to the system.
constexpr DWORD letGoMs = 200;

} // namespace

struct IcmpApiChannel::Request {
    IcmpApiChannel *channel = nullptr; // none once the channel closed without it
    uint16_t seq = 0;
    size_t payloadSize = 0;
    std::vector<uint8_t> reply; // the API writes the outcome here
};

struct RequestEnd {
    static void call(void *context)
    {
        auto *request = static_cast<IcmpApiChannel::Request *>(context);
        if (request->channel)
            request->channel->ended(request);
        else
            delete request; // its channel closed before the system let go of it
    }
};

namespace {

VOID NTAPI requestEnded(PVOID context, PIO_STATUS_BLOCK, ULONG)
{
    RequestEnd::call(context);
}

} // namespace

std::unique_ptr<IcmpApiChannel> IcmpApiChannel::open(icmp::Family family, int &error)
{
    const ApiFamily &rules = family == icmp::Family::V4 ? v4 : v6;
    HANDLE icmp = rules.create();
    if (icmp == INVALID_HANDLE_VALUE) {
        error = static_cast<int>(GetLastError());
        return nullptr;
    }
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!ready) {
        error = static_cast<int>(GetLastError());
        IcmpCloseHandle(icmp);
        return nullptr;
    }
    error = 0;
    return std::unique_ptr<IcmpApiChannel>(new IcmpApiChannel(rules, icmp, ready));
}

IcmpApiChannel::IcmpApiChannel(const ApiFamily &family, void *icmp, void *ready)
    : family_(family), icmp_(icmp), ready_(ready)
{
}

// Closing the API's handle should end the requests in flight, and their
// calls come while this thread waits alertably (Wine lets them run to their
// timeout instead). Those that have not come a moment later are left to the
// system, which may still write to them; their own call frees them if it
// ever comes.
IcmpApiChannel::~IcmpApiChannel()
{
    IcmpCloseHandle(icmp_);
    const ULONGLONG until = GetTickCount64() + letGoMs;
    while (!pending_.empty() && GetTickCount64() < until)
        SleepEx(1, TRUE);
    for (auto &request : pending_) {
        request->channel = nullptr;
        (void)request.release(); // left to the system on purpose
    }
    CloseHandle(ready_);
}

int IcmpApiChannel::send(const EchoRequest &request)
{
    auto pending = std::make_unique<Request>();
    pending->channel = this;
    pending->seq = request.seq;
    pending->payloadSize = request.payload.size();
    pending->reply.resize(family_.replyHeader + request.payload.size() + replySlack);
    // Options only when a flag is set; then the TTL must be stated too.
    IP_OPTION_INFORMATION options{};
    const bool dontFragment = request.dontFragment && family_.family == icmp::Family::V4;
    if (dontFragment) {
        options.Ttl = defaultTtl(family_.addressFamily);
        options.Flags = IP_FLAG_DF;
    }
    const EchoRequest bounded{
        .to = request.to,
        .seq = request.seq,
        .payload = request.payload,
        .timeout = std::clamp(request.timeout, std::chrono::milliseconds(1),
                              std::chrono::milliseconds(std::numeric_limits<int32_t>::max())),
        .dontFragment = dontFragment,
    };
    // With a completion routine the call returns at once and the routine
    // reports the end, also of a request that ended straight away.
    if (family_.send(icmp_, pending.get(), bounded, dontFragment ? &options : nullptr,
                     pending->reply) == 0) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING)
            return static_cast<int>(error);
    }
    pending_.push_back(std::move(pending));
    return 0;
}

void IcmpApiChannel::ended(Request *request)
{
    const auto it = std::find_if(pending_.begin(), pending_.end(),
                                 [request](const auto &p) { return p.get() == request; });
    if (it == pending_.end())
        return;
    completed_.push_back(std::move(*it));
    pending_.erase(it);
    SetEvent(ready_);
}

std::optional<EchoResult> IcmpApiChannel::collect()
{
    collected_.reset();
    if (completed_.empty()) {
        ResetEvent(ready_);
        return std::nullopt;
    }
    collected_ = std::move(completed_.front());
    completed_.pop_front();
    return resultOf(*collected_);
}

EchoResult IcmpApiChannel::resultOf(Request &request) const
{
    const Outcome outcome = family_.read(request.reply, request.payloadSize);
    EchoResult result{.kind = EchoResult::Kind::Failed, .seq = request.seq};
    if (outcome.status == IP_SUCCESS) {
        result.kind = EchoResult::Kind::Reply;
        result.payload = outcome.data;
        result.hops = outcome.hops;
        // Measured where the reply arrived, not where this thread got to it.
        result.roundTrip = std::chrono::milliseconds(outcome.roundTripMs);
        return result;
    }
    if (outcome.status == IP_REQ_TIMED_OUT) {
        result.kind = EchoResult::Kind::TimedOut;
        return result;
    }
    for (const IcmpErrorStatus &error : family_.errors) {
        if (error.status == outcome.status) {
            result.kind = EchoResult::Kind::IcmpError;
            result.type = error.type;
            result.code = error.code;
            return result;
        }
    }
    result.systemError = static_cast<int>(outcome.status);
    return result;
}
