#pragma once

#include "EchoChannel.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <deque>
#include <set>
#include <vector>

// An echo channel that a test scripts: it records every request, refuses
// sends while told to, and hands back replies and errors when the test says
// so. Its ready handle is an eventfd, readable while results wait, as a
// socket is: the real engine, its notifier and its deadline timer run
// unchanged on it, without root and without a network.
class FakeChannel : public EchoChannel {
  public:
    struct Sent {
        uint16_t seq;
        std::vector<uint8_t> payload;
        MonotonicTime at;
    };
    std::vector<Sent> sent;        // the requests the channel took
    int refused = 0;               // sends refused so far
    int refuseWith = 0;            // while not 0, every send fails with this error
    bool answerAtOnce = false;     // each request is answered as it is sent
    std::set<uint16_t> unanswered; // but not these

    FakeChannel() : ready_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~FakeChannel() override { close(ready_); }

    int send(const EchoRequest &request) override
    {
        if (refuseWith != 0) {
            ++refused;
            return refuseWith;
        }
        sent.push_back(
            {request.seq, {request.payload.begin(), request.payload.end()}, MonotonicClock::now()});
        if (answerAtOnce && !unanswered.contains(request.seq))
            reply(request.seq);
        return 0;
    }
    ReadyHandle readyHandle() const override { return ready_; }
    std::optional<EchoResult> collect() override
    {
        if (results_.empty()) {
            uint64_t count;
            (void)!read(ready_, &count, sizeof count);
            return std::nullopt;
        }
        collected_ = std::move(results_.front());
        results_.pop_front();
        collected_.result.payload = collected_.payload;
        return collected_.result;
    }

    // The reply to request `seq` as it was sent, or with other data.
    void reply(uint16_t seq, std::optional<std::vector<uint8_t>> data = std::nullopt)
    {
        const Sent *request = find(seq);
        push({.kind = EchoResult::Kind::Reply, .seq = seq, .hops = 64},
             data      ? *data
             : request ? request->payload
                       : std::vector<uint8_t>{});
    }
    void icmpError(uint16_t seq, uint8_t type, uint8_t code)
    {
        push({.kind = EchoResult::Kind::IcmpError, .seq = seq, .type = type, .code = code}, {});
    }
    const Sent *find(uint16_t seq) const
    {
        for (auto it = sent.rbegin(); it != sent.rend(); ++it)
            if (it->seq == seq)
                return &*it;
        return nullptr;
    }

  private:
    struct Held {
        EchoResult result;
        std::vector<uint8_t> payload;
    };
    void push(EchoResult result, std::vector<uint8_t> payload)
    {
        results_.push_back({result, std::move(payload)});
        const uint64_t one = 1;
        (void)!write(ready_, &one, sizeof one);
    }

    int ready_;
    std::deque<Held> results_;
    Held collected_; // what the last result's payload points into
};

// Channels for an engine with `channel` for IPv4 and none for IPv6; the
// engine owns it.
inline EchoChannels onlyV4(FakeChannel *channel)
{
    EchoChannels channels;
    channels.v4.reset(channel);
    return channels;
}
// Channels for both families, each the test's; the engine owns them.
inline EchoChannels bothFamilies(FakeChannel *v4, FakeChannel *v6)
{
    EchoChannels channels = onlyV4(v4);
    channels.v6.reset(v6);
    return channels;
}
