#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Conversions from double to integer: nearest, exact halves to the even
// neighbour, saturating at the type's limits; NaN gives 0.
int16_t roundToInt16(double value);
int32_t roundToInt32(double value);

// "-12", "0", "345": no spaces.
std::string decimalText(int64_t value);
// Decimal text with one leading space when not negative: " 5", "-5".
std::string signedSpaceText(int64_t value);
// A whole-valued count (kept as a double) in signed-space form.
std::string countText(double count);
std::string msText(int64_t value);
std::string percentText(int64_t value);

// Reads a number from the start of `text`. Blanks, tabs and line feeds are
// ignored wherever they are; then an optional sign, digits with an optional
// "." and an optional exponent with "E" or "e". Reading stops at the first
// character that cannot continue the number; no number reads as 0. A value
// beyond the range of double reads as the largest finite double of its sign.
double readNumber(std::string_view text);
