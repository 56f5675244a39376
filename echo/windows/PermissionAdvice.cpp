#include "Platform.h"

#include <system_error>
#include <tuple>

// The ICMP helper API is open to every user: a family without a channel
// means the system lacks it (no IPv6 stack, say), which no permission mends.
bool lacksPermission(int)
{
    return false;
}

std::string permissionAdvice(const EchoChannels &channels, const std::string &)
{
    std::string line;
    for (const auto &[channel, family, error] :
         {std::tuple{&channels.v4, "IPv4", channels.v4Error},
          std::tuple{&channels.v6, "IPv6", channels.v6Error}}) {
        if (*channel)
            continue;
        line += line.empty() ? "lagoscope: " : "; ";
        line += std::string("no ICMP echo for ") + family + " (" +
                std::system_category().message(error) + ")";
    }
    return line;
}
