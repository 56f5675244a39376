#pragma once

#include <chrono>
#include <deque>
#include <optional>

// Decides when a host that still answers loses a share of its requests, and
// when it no longer does. Losing: at least 5 % of the requests handed over in
// the last 20 s lost, at least 20 handed over and more than one lost, since a
// lone lost reply says nothing; no longer losing: under 2 %. It judges at
// each reply, when the losses before it are known not to be an outage: an
// outage has its own notice, and its losses are not counted here.
class LossWatch {
  public:
    using Clock = std::chrono::steady_clock;

    struct Verdict {
        bool losing = false; // began losing, or else no longer loses
        double sharePercent = 0;
        Clock::duration losingFor{}; // when no longer losing
    };

    // A new run: nothing handed over yet.
    void started();
    void lost(Clock::time_point now);
    // The host has fallen silent: the losses in a row up to now, and those
    // until it answers, are the outage's.
    void silent();
    // A reply: when the host has now begun losing, or no longer loses.
    std::optional<Verdict> answered(Clock::time_point now);

  private:
    void handedOver(Clock::time_point now, bool lost);

    struct Request {
        Clock::time_point at;
        bool lost;
    };
    std::deque<Request> recent_; // the last 20 s, in order
    int lostRecently_ = 0;
    bool silent_ = false;
    bool losing_ = false;
    Clock::time_point losingSince_{};
};
