#pragma once

#include <chrono>
#include <optional>

// Decides when a host has stopped answering and when it answers again, from
// the requests handed over as answered or lost, so that one lost reply does
// not cry wolf: silent means no reply for 2 s or three intervals, whichever
// is longer, and at least three requests in a row lost.
class OutageWatch {
  public:
    using Clock = std::chrono::steady_clock;
    using Wall = std::chrono::system_clock;

    struct Went {
        Wall::time_point lastHeard; // the last reply, or Start when none came
        Clock::time_point heard;    // the same on the steady clock
        int lost;                   // requests lost since
    };
    struct Back {
        Clock::duration silent; // from the last reply before to this one
        int lost;               // requests lost in between
    };

    // A new run: nothing heard yet, as if the host had answered at Start.
    void started(Clock::time_point now, Wall::time_point wallNow);
    // A reply: when the host was said to be silent, that it is back.
    std::optional<Back> answered(Clock::time_point now, Wall::time_point wallNow);
    // A loss: when the host has now become silent, once per outage.
    std::optional<Went> lost(Clock::time_point now, Clock::duration interval);

    bool silent() const { return announced_; }

  private:
    Clock::time_point heard_{};
    Wall::time_point heardWall_{};
    int lostInARow_ = 0;
    bool announced_ = false;
};
