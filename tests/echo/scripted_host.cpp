// A stand-in host on a busy home line, for screenshots and manual runs: it
// answers echo requests on this namespace's loopback in 10 to 40 ms, loses
// one now and then, and once takes 650 ms, for the given number of seconds.
// Switch the kernel's own echo replies off first.
#include "IcmpResponder.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

namespace {
int delayOf(uint16_t seq)
{
    if (seq == 300)
        return 650;
    return 18 + static_cast<int>(8 * std::sin(seq / 9.0)) + seq * 37 % 11 + (seq % 23 == 0) * 15;
}
} // namespace

int main(int argc, char **argv)
{
    const int seconds =
        argc > 1 ? int(std::clamp(std::strtol(argv[1], nullptr, 10), 1L, 600L)) : 60;
    IcmpResponder responder(icmp::Family::V4, [](uint16_t seq) {
        const bool lost = seq % 61 == 0 || (seq >= 200 && seq < 203);
        return IcmpResponder::Action{.drop = lost, .delayMs = delayOf(seq)};
    });
    if (!responder.ok())
        return 1;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return 0;
}
