#pragma once

#include <cstdint>

// Echo sequence numbers: 1 for the first request, one more for each after,
// 65535 wrapping to 0. A restart makes the next number 1 again.
class SequenceCounter {
  public:
    uint16_t take(bool restart)
    {
        const uint16_t seq = restart ? 1 : next_;
        next_ = static_cast<uint16_t>(seq + 1);
        return seq;
    }

  private:
    uint16_t next_ = 1;
};
