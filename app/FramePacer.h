#pragma once

#include <chrono>
#include <optional>

// Decides when the window's changes reach the screen: at most one frame per
// period, at once when a frame is due, and every change within one period of
// when it was made. A change that may wait (the sent count) is shown with the
// next frame rather than bringing one about, so that each request costs one
// frame, not two.
class FramePacer {
  public:
    using Clock = std::chrono::steady_clock;

    explicit FramePacer(Clock::duration period) : period_(period) {}

    void changed(Clock::time_point now, bool mayWait);
    // When the changes made so far should be presented; none when there are none.
    std::optional<Clock::time_point> due() const;
    void presented(Clock::time_point now);

  private:
    Clock::duration period_;
    std::optional<Clock::time_point> lastFrame_;
    std::optional<Clock::time_point> firstChange_; // the oldest change not yet shown
    std::optional<Clock::time_point> firstUrgent_; // the oldest one that should not wait
};
