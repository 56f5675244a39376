// A stand-in host with a lively line, for screenshots and manual runs: it
// answers echo requests on this namespace's loopback with varying delays and
// the odd loss, for the given number of seconds. Switch the kernel's own
// echo replies off first.
#include "IcmpResponder.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

namespace {
// Waves of 60 to 360 ms with some jitter.
int delayOf(uint16_t seq)
{
    return 210 + static_cast<int>(150 * std::sin(seq / 25.0)) + seq * 37 % 30;
}
} // namespace

int main(int argc, char **argv)
{
    const int seconds = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, 600) : 60;
    IcmpResponder responder(icmp::Family::V4, [](uint16_t seq) {
        const bool lost = seq % 29 == 0 || (seq >= 200 && seq < 204);
        return IcmpResponder::Action{.drop = lost, .delayMs = delayOf(seq)};
    });
    if (!responder.ok())
        return 1;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return 0;
}
