// A host that answers echo requests on this namespace's loopback after a
// fixed delay, for the given seconds, then prints how evenly the requests
// arrived, on the kernel's receive timestamps: the same yardstick for any
// program that pings it. Switch the kernel's own echo replies off first.
// lagoscope-bench-peer DELAY_MS SECONDS INTERVAL_MS
#include "IcmpResponder.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char **argv)
{
    if (argc != 4)
        return 2;
    const int delay = int(std::clamp(std::strtol(argv[1], nullptr, 10), 0L, 5000L));
    const long seconds = std::clamp(std::strtol(argv[2], nullptr, 10), 1L, 600L);
    const double interval = double(std::clamp(std::strtol(argv[3], nullptr, 10), 1L, 10000L));
    IcmpResponder responder(icmp::Family::V4,
                            [delay](uint16_t) { return IcmpResponder::Action{.delayMs = delay}; });
    if (!responder.ok())
        return 1;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const std::vector<int64_t> times = responder.requestTimesNs();
    if (times.size() < 3) {
        std::printf("requests %zu\n", times.size());
        return 1;
    }
    std::vector<double> deviations;
    std::vector<double> gaps;
    for (size_t i = 1; i < times.size(); ++i) {
        gaps.push_back((times[i] - times[i - 1]) / 1e6);
        deviations.push_back(std::abs(gaps.back() - interval));
    }
    std::sort(gaps.begin(), gaps.end());
    std::sort(deviations.begin(), deviations.end());
    const size_t last = std::min<size_t>(times.size(), 1000) - 1;
    std::printf("requests %zu gap-median %.3f deviation-p99 %.3f span-1000 %.1f\n", times.size(),
                gaps[gaps.size() / 2], deviations[deviations.size() * 99 / 100],
                (times[last] - times[0]) / 1e6);
    return 0;
}
