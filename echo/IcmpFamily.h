#pragma once

#include <cstddef>
#include <cstdint>

namespace icmp {

enum class Family : uint8_t { V4, V6 };

// The ICMP echo header: type, code, checksum, identifier, sequence.
constexpr size_t headerSize = 8;

// The largest echo data a request can carry: 65535 minus the IPv4 and ICMP
// headers, or minus the ICMPv6 header alone (IPv6 does not count its own).
// The packet code checks these numbers against the system's headers.
constexpr size_t maxPayload(Family f)
{
    return f == Family::V4 ? 65535 - 20 - headerSize : 65535 - headerSize;
}

} // namespace icmp
