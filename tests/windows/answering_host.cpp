// A Linux host for the Windows channel's test: it answers echo requests on
// this namespace's loopback for the given seconds, either after holding
// each for a known time or with a host-unreachable error that quotes it.
// Switch the kernel's own echo replies off first.
//   answering_host hold MS SECONDS | unreachable SECONDS
#include "IcmpResponder.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

int main(int argc, char **argv)
{
    const auto number = [](const char *text, long high) {
        return std::clamp(std::strtol(text, nullptr, 10), 0L, high);
    };
    IcmpResponder::Action action;
    long seconds = 0;
    if (argc == 4 && std::strcmp(argv[1], "hold") == 0) {
        action.delayMs = int(number(argv[2], 5000));
        seconds = number(argv[3], 600);
    } else if (argc == 3 && std::strcmp(argv[1], "unreachable") == 0) {
        action.unreachable = true;
        seconds = number(argv[2], 600);
    } else {
        return 2;
    }
    IcmpResponder responder(icmp::Family::V4, [action](uint16_t) { return action; });
    if (!responder.ok())
        return 1;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return 0;
}
