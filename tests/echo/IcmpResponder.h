#pragma once

#include "IcmpPacket.h"

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// A scripted answering host for tests: a raw socket that reads the echo
// requests arriving on loopback and answers each as its script says. Run it
// where the kernel's own echo replies are switched off.
class IcmpResponder {
  public:
    enum class Corruption { None, Checksum, Payload, Truncate };
    struct Action {
        bool drop = false;
        int delayMs = 0;
        int copies = 1;
        Corruption corruption = Corruption::None;
        bool foreignId = false;
        bool unreachable = false; // answer with destination-unreachable instead
    };
    using Script = std::function<Action(uint16_t seq)>;

    IcmpResponder(icmp::Family family, Script script);
    ~IcmpResponder();
    IcmpResponder(const IcmpResponder &) = delete;
    IcmpResponder &operator=(const IcmpResponder &) = delete;

    bool ok() const { return fd_ >= 0; }
    // How long the answer to `seq` really took here: from the kernel's
    // receive time of the request to just before and just after the answer
    // was sent (a busy machine may hold the thread between the two).
    struct Held {
        double beforeSendMs;
        double afterSendMs;
    };
    std::optional<Held> heldMs(uint16_t seq) const;
    // When the (last) answer to `seq` left, on the wall clock: known to
    // anyone who has seen the answer arrive.
    std::optional<int64_t> answeredAtNs(uint16_t seq) const;
    // The kernel's receive time of every echo request so far, in order.
    std::vector<int64_t> requestTimesNs() const;

  private:
    void run();

    icmp::Family family_;
    Script script_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    struct Answered {
        Held held;
        int64_t atNs;
    };
    std::map<uint16_t, Answered> answered_;
    std::vector<int64_t> requestTimes_;
    std::thread thread_;
};
