#pragma once

#include "EchoChannel.h"

#include <deque>
#include <memory>
#include <vector>

struct ApiFamily;

// An echo channel on the Windows ICMP helper API, which needs no privileges.
// Every request gets its own reply buffer, and ends in an asynchronous
// procedure call on the thread that sent it, while that thread waits
// alertably (Qt's event loop does); the call moves it to the completed ones
// and sets the ready event. So everything happens on one thread, with no
// thread or wait per request. The API keeps its own identifiers and
// sequence numbers on the wire; the engine's numbers are kept here.
class IcmpApiChannel : public EchoChannel {
  public:
    // Opens the API's handle for a family, or fails with a system error code.
    static std::unique_ptr<IcmpApiChannel> open(icmp::Family family, int &error);
    ~IcmpApiChannel() override;

    int send(const EchoRequest &request) override;
    ReadyHandle readyHandle() const override { return reinterpret_cast<ReadyHandle>(ready_); }
    std::optional<EchoResult> collect() override;

  private:
    struct Request;
    friend struct RequestEnd; // the procedure call the system makes
    // From the procedure call: `request` has ended.
    void ended(Request *request);

    IcmpApiChannel(const ApiFamily &family, void *icmp, void *ready);
    EchoResult resultOf(Request &request) const;

    const ApiFamily &family_;
    void *icmp_;  // the API's handle
    void *ready_; // manual-reset event, set while completed requests wait
    std::vector<std::unique_ptr<Request>> pending_;
    std::deque<std::unique_ptr<Request>> completed_;
    std::unique_ptr<Request> collected_; // what the last result's payload points into
};
