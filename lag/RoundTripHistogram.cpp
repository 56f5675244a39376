#include "RoundTripHistogram.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

constexpr int exactBelow = 100; // ms
constexpr int binsPerDoubling = 16;

// Bits written and read most significant first, from a byte boundary.
class BitWriter {
  public:
    explicit BitWriter(std::vector<uint8_t> &bytes) : bytes_(bytes) {}
    // Elias gamma code of `value` (at least 1): as many zeros as it has
    // bits after the first, then its bits.
    void gamma(uint64_t value)
    {
        const int width = std::bit_width(value);
        for (int i = 1; i < width; ++i)
            bit(false);
        for (int i = width - 1; i >= 0; --i)
            bit((value >> i) & 1);
    }

  private:
    void bit(bool on)
    {
        if (used_ % 8 == 0)
            bytes_.push_back(0);
        if (on)
            bytes_.back() |= uint8_t(0x80 >> (used_ % 8));
        ++used_;
    }
    std::vector<uint8_t> &bytes_;
    size_t used_ = 0;
};

class BitReader {
  public:
    BitReader(const std::vector<uint8_t> &bytes, size_t offset) : bytes_(bytes), at_(offset * 8) {}
    uint64_t gamma()
    {
        int zeros = 0;
        while (!bit())
            ++zeros;
        uint64_t value = 1;
        for (int i = 0; i < zeros; ++i)
            value = value << 1 | (bit() ? 1 : 0);
        return value;
    }

  private:
    // Past the end reads as ones, so that a damaged record ends a code
    // rather than running on.
    bool bit()
    {
        const size_t byte = at_ / 8;
        const bool on = byte >= bytes_.size() || (bytes_[byte] & (0x80 >> (at_ % 8)));
        ++at_;
        return on;
    }
    const std::vector<uint8_t> &bytes_;
    size_t at_;
};

} // namespace

int RoundTripHistogram::binOf(int32_t ms)
{
    if (ms < exactBelow)
        return std::max(ms, 0);
    const double above = std::log2(double(ms) / exactBelow) * binsPerDoubling;
    return std::min(exactBelow + int(above), bins - 1);
}

int32_t RoundTripHistogram::valueOf(int bin)
{
    if (bin < exactBelow)
        return bin;
    return int32_t(std::lround(exactBelow * std::exp2((bin - exactBelow + 0.5) / binsPerDoubling)));
}

void RoundTripHistogram::add(int32_t ms, uint64_t times)
{
    counts_[size_t(binOf(ms))] += times;
    count_ += times;
}

void RoundTripHistogram::add(const RoundTripHistogram &other)
{
    for (size_t i = 0; i < counts_.size(); ++i)
        counts_[i] += other.counts_[i];
    count_ += other.count_;
}

std::optional<int32_t> RoundTripHistogram::percentile(double fraction) const
{
    if (count_ == 0)
        return std::nullopt;
    const auto rank = std::max<uint64_t>(1, uint64_t(std::ceil(fraction * double(count_))));
    uint64_t seen = 0;
    for (int bin = 0; bin < bins; ++bin) {
        seen += counts_[size_t(bin)];
        if (seen >= rank)
            return valueOf(bin);
    }
    return valueOf(bins - 1);
}

void RoundTripHistogram::packInto(std::vector<uint8_t> &bytes) const
{
    int used = bins;
    while (used > 0 && counts_[size_t(used - 1)] == 0)
        --used;
    BitWriter out(bytes);
    out.gamma(uint64_t(used) + 1);
    for (int bin = 0; bin < used; ++bin)
        out.gamma(counts_[size_t(bin)] + 1);
}

void RoundTripHistogram::addPacked(const std::vector<uint8_t> &bytes, size_t offset)
{
    BitReader in(bytes, offset);
    const auto used = std::min<uint64_t>(in.gamma() - 1, bins);
    for (size_t bin = 0; bin < used; ++bin) {
        const uint64_t n = in.gamma() - 1;
        counts_[bin] += n;
        count_ += n;
    }
}
