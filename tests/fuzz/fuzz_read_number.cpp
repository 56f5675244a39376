// The number reader takes whatever the user types after "P:" or "S:".
#include "NumberText.h"

#include <cmath>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const double value = readNumber(text);
    // Never NaN or infinite, whatever the text: the window rounds it and the
    // engine clamps it.
    if (!std::isfinite(value))
        std::abort();
    volatile int16_t narrow = roundToInt16(value);
    volatile int32_t wide = roundToInt32(value);
    (void)narrow;
    (void)wide;
    return 0;
}
