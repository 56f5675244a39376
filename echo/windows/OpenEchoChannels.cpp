#include "IcmpApiChannel.h"
#include "Platform.h"

// The ICMP helper API needs no privilege, for either family.
EchoChannels openEchoChannels()
{
    EchoChannels channels;
    channels.v4 = IcmpApiChannel::open(icmp::Family::V4, channels.v4Error);
    channels.v6 = IcmpApiChannel::open(icmp::Family::V6, channels.v6Error);
    return channels;
}
