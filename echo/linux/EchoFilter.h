#pragma once

#include "IcmpFamily.h"

#include <linux/filter.h>

#include <cstdint>
#include <vector>

// A socket filter for a raw ICMP socket, which the kernel otherwise hands
// every ICMP message of its family on this host: it passes only echo replies
// carrying `identifier` and errors that quote an echo request carrying it.
// Other programs' pings then cost nothing here and cannot crowd our replies
// out of the socket's queue. IPv4 raw sockets see the IP header first.
std::vector<sock_filter> echoFilter(icmp::Family family, uint16_t identifier);
