#include "Platform.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <tuple>

bool lacksPermission(int channelError)
{
    return channelError == EPERM || channelError == EACCES;
}

std::string permissionAdvice(const EchoChannels &channels, const std::string &invokedAs)
{
    std::string families;
    int error = 0;
    for (const auto &[channel, family, familyError] :
         {std::tuple{&channels.v4, "IPv4", channels.v4Error},
          std::tuple{&channels.v6, "IPv6", channels.v6Error}}) {
        if (*channel)
            continue;
        families += families.empty() ? family : std::string(" and ") + family;
        if (!lacksPermission(error))
            error = familyError;
    }
    if (families.empty())
        return {};
    std::string line =
        "lagoscope: no ICMP socket for " + families + " (" + std::strerror(error) + ")";
    if (!lacksPermission(error))
        return line;
    // The file itself, however the program was started (found on PATH, or
    // through a link), so that the command works as it stands.
    std::error_code failed;
    const auto binary = std::filesystem::read_symlink("/proc/self/exe", failed);
    const std::string path = failed ? invokedAs : binary.string();
    return line +
           "; allow unprivileged ping with 'sudo sysctl -w net.ipv4.ping_group_range=\"0 "
           "2147483647\"' (and for good with 'echo net.ipv4.ping_group_range=0 2147483647 | "
           "sudo tee /etc/sysctl.d/60-lagoscope.conf'), or let this program open raw sockets "
           "with 'sudo setcap cap_net_raw+p " +
           path + "'";
}
