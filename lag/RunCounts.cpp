#include "RunCounts.h"

#include "ReplyStats.h"

void RunCounts::start()
{
    sent_ = 0;
    received_ = 0;
}

void RunCounts::requestSent()
{
    sent_ += 1;
    shownSent_ = sent_;
}

void RunCounts::replied()
{
    received_ += 1;
    sampleShown();
}

// Shown as a reply shows it: after a Start the label still holds the last
// run's count, and a host silent since then must read 100 %.
void RunCounts::lost()
{
    sampleShown();
}

void RunCounts::sampleShown()
{
    shownReceived_ = received_;
    if (shownSent_ > 1)
        totalLoss_ = ::totalLossPercent(shownSent_, shownReceived_);
}
