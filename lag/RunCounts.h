#pragma once

#include <cstdint>

// The sent and received counts of a run, and the total loss read from them.
//
// The total loss reads the counts as the labels show them, not as counted:
// a Start zeroes the counts but leaves the labels, so until the run's first
// request is sent the sent label still shows the last run's count, and a
// reply or loss in between is weighed against it. The loss is worked out
// after every reply and loss while the sent label shows more than one, and
// otherwise keeps its last value.
class RunCounts {
  public:
    // A new run: counted from 0, shown as before.
    void start();
    void requestSent();
    // A reply counts; both it and a loss show this run's received count.
    void replied();
    void lost();

    // This run's counts.
    double sent() const { return sent_; }
    double received() const { return received_; }
    // The counts as the labels show them.
    double shownSent() const { return shownSent_; }
    double shownReceived() const { return shownReceived_; }
    int32_t totalLossPercent() const { return totalLoss_; }

  private:
    void sampleShown();

    double sent_ = 0;
    double received_ = 0;
    double shownSent_ = 0;
    double shownReceived_ = 0;
    int32_t totalLoss_ = 0;
};
