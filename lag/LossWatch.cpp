#include "LossWatch.h"

namespace {

using namespace std::chrono_literals;

constexpr auto span = 20s;
constexpr size_t fewestRequests = 20;
constexpr double losingShare = 5;
constexpr double clearShare = 2;

} // namespace

void LossWatch::started()
{
    *this = LossWatch();
}

void LossWatch::lost(Clock::time_point now)
{
    if (!silent_)
        handedOver(now, true);
}

void LossWatch::silent()
{
    silent_ = true;
    while (!recent_.empty() && recent_.back().lost) {
        recent_.pop_back();
        --lostRecently_;
    }
}

void LossWatch::handedOver(Clock::time_point now, bool lost)
{
    recent_.push_back({now, lost});
    lostRecently_ += lost;
    while (recent_.front().at <= now - span) {
        lostRecently_ -= recent_.front().lost;
        recent_.pop_front();
    }
}

std::optional<LossWatch::Verdict> LossWatch::answered(Clock::time_point now)
{
    silent_ = false;
    handedOver(now, false);
    if (recent_.size() < fewestRequests)
        return std::nullopt;
    const double share = 100.0 * lostRecently_ / double(recent_.size());
    const bool change = losing_ ? share < clearShare : share >= losingShare && lostRecently_ > 1;
    if (!change)
        return std::nullopt;
    losing_ = !losing_;
    Verdict verdict{losing_, share, losing_ ? Clock::duration{} : now - losingSince_};
    losingSince_ = now;
    return verdict;
}
