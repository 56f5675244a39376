#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// Round trips counted in bins: one per millisecond below 100 ms, so that
// percentiles there are exact; above, sixteen per doubling (about 4 %
// wide) up to some 80 s, where the last bin takes the rest.
class RoundTripHistogram {
  public:
    static constexpr int bins = 256;

    static int binOf(int32_t ms);
    // The round trip a bin stands for: its millisecond, or its middle.
    static int32_t valueOf(int bin);

    void add(int32_t ms, uint64_t times = 1);
    void add(const RoundTripHistogram &other);
    uint64_t count() const { return count_; }
    // The value at `fraction` (0.5, 0.95) by nearest rank; none when empty.
    std::optional<int32_t> percentile(double fraction) const;

    // Packed for keeping: each bin's count up to the last one used, in
    // Elias gamma code, so that a second of 100 round trips takes at most
    // 57 bytes, and a usual one about ten.
    void packInto(std::vector<uint8_t> &bytes) const;
    // Adds what `bytes` from `offset` holds, as packInto wrote it.
    void addPacked(const std::vector<uint8_t> &bytes, size_t offset);

  private:
    std::array<uint64_t, bins> counts_{};
    uint64_t count_ = 0;
};
