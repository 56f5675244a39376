#include "SlowWatch.h"

#include <algorithm>

namespace {

using namespace std::chrono_literals;

constexpr auto span = 10s;
constexpr size_t fewestReplies = 10;
constexpr auto memory = 10min;

bool isSlow(double median, double usual)
{
    return median > 3 * usual && median > usual + 50;
}

bool isFastAgain(double median, double usual)
{
    return median < 2 * usual && median < usual + 25;
}

} // namespace

void SlowWatch::started()
{
    *this = SlowWatch();
}

double SlowWatch::median() const
{
    const size_t n = sorted_.size();
    return n % 2 ? sorted_[n / 2] : (double(sorted_[n / 2 - 1]) + sorted_[n / 2]) / 2;
}

std::optional<SlowWatch::Verdict> SlowWatch::answered(Clock::time_point now, int32_t roundTripMs)
{
    if (!firstReply_)
        firstReply_ = now;
    recent_.emplace_back(now, roundTripMs);
    sorted_.insert(std::upper_bound(sorted_.begin(), sorted_.end(), roundTripMs), roundTripMs);
    while (recent_.front().first <= now - span) {
        sorted_.erase(std::lower_bound(sorted_.begin(), sorted_.end(), recent_.front().second));
        recent_.pop_front();
    }
    if (now - *firstReply_ < span || sorted_.size() < fewestReplies)
        return std::nullopt;

    const double median = this->median();
    while (!lowest_.empty() && lowest_.back().second >= median)
        lowest_.pop_back();
    lowest_.emplace_back(now, median);
    while (lowest_.front().first <= now - memory)
        lowest_.pop_front();
    const double usual = lowest_.front().second;

    if (slow_ ? !isFastAgain(median, usual) : !isSlow(median, usual))
        return std::nullopt;
    slow_ = !slow_;
    Verdict verdict{slow_, median, usual, slow_ ? Clock::duration{} : now - slowSince_};
    slowSince_ = now;
    return verdict;
}
