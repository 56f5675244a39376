#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace icmp {

// The echo data of one request: `token` in its first bytes (as many as fit),
// then a pattern that depends on it, so a reply proves it answers this request.
std::vector<uint8_t> payloadFor(uint64_t token, size_t size);

} // namespace icmp
