#include "IcmpSocketChannel.h"
#include "Platform.h"

#include <sys/capability.h>

#include <cerrno>

namespace {

bool raiseNetRaw()
{
    cap_t caps = cap_get_proc();
    if (!caps)
        return false;
    const cap_value_t netRaw = CAP_NET_RAW;
    cap_flag_value_t permitted = CAP_CLEAR;
    cap_get_flag(caps, netRaw, CAP_PERMITTED, &permitted);
    bool raised = false;
    if (permitted == CAP_SET) {
        cap_set_flag(caps, CAP_EFFECTIVE, 1, &netRaw, CAP_SET);
        raised = cap_set_proc(caps) == 0;
    }
    cap_free(caps);
    return raised;
}

// A raw socket where the unprivileged kind failed; the error kept is the
// one that says more.
std::unique_ptr<EchoChannel> openRaw(icmp::Family family, int &error)
{
    int rawError = 0;
    if (auto channel = IcmpSocketChannel::open(family, SocketKind::Raw, rawError)) {
        error = 0;
        return channel;
    }
    if (!lacksPermission(rawError))
        error = rawError;
    return nullptr;
}

} // namespace

// Unprivileged datagram sockets first; raw sockets where the process may open them.
EchoChannels openEchoChannels()
{
    EchoChannels channels;
    channels.v4 = IcmpSocketChannel::open(icmp::Family::V4, SocketKind::Datagram, channels.v4Error);
    channels.v6 = IcmpSocketChannel::open(icmp::Family::V6, SocketKind::Datagram, channels.v6Error);
    if (channels.v4 && channels.v6)
        return channels;
    raiseNetRaw();
    if (!channels.v4)
        channels.v4 = openRaw(icmp::Family::V4, channels.v4Error);
    if (!channels.v6)
        channels.v6 = openRaw(icmp::Family::V6, channels.v6Error);
    return channels;
}
