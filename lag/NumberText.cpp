#include "NumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

template <typename Int> Int roundHalfEven(double value)
{
    if (std::isnan(value))
        return 0;
    constexpr auto low = static_cast<double>(std::numeric_limits<Int>::min());
    // For 64 bits this rounds up to 2^63, one past the largest value, which
    // the >= below turns into the largest value.
    constexpr auto high = static_cast<double>(std::numeric_limits<Int>::max());
    if (value <= low)
        return std::numeric_limits<Int>::min();
    if (value >= high)
        return std::numeric_limits<Int>::max();
    const double floor = std::floor(value);
    const double fraction = value - floor;
    double rounded = floor;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(floor, 2.0) != 0.0))
        rounded += 1.0;
    return static_cast<Int>(std::clamp(rounded, low, high));
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isIgnored(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

// The longest prefix of `s` that reads as a number, without its leading sign.
std::string_view numberPrefix(std::string_view s)
{
    size_t i = 0;
    size_t digits = 0;
    while (i < s.size() && isDigit(s[i])) {
        ++i;
        ++digits;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return {};
    size_t end = i;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            ++j;
        if (j < s.size() && isDigit(s[j])) {
            while (j < s.size() && isDigit(s[j]))
                ++j;
            end = j;
        }
    }
    return s.substr(0, end);
}

// For a number that from_chars found out of range: whether it is too large
// (rather than too small), from the position of its first significant digit.
bool overflows(std::string_view number)
{
    const size_t e = number.find_first_of("eE");
    const std::string_view mantissa = number.substr(0, e);
    long exponent = 0;
    if (e != std::string_view::npos) {
        std::string_view digits = number.substr(e + 1);
        const bool negative = digits.front() == '-';
        if (digits.front() == '+' || digits.front() == '-')
            digits.remove_prefix(1);
        for (char c : digits)
            exponent = std::min(exponent * 10 + (c - '0'), 100000L);
        if (negative)
            exponent = -exponent;
    }
    const size_t point = std::min(mantissa.find('.'), mantissa.size());
    const size_t first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos)
        return false;
    const long magnitude =
        first < point ? static_cast<long>(point - first) : -static_cast<long>(first - point - 1);
    return magnitude + exponent > 0;
}

} // namespace

int16_t roundToInt16(double value)
{
    return roundHalfEven<int16_t>(value);
}

int32_t roundToInt32(double value)
{
    return roundHalfEven<int32_t>(value);
}

std::string decimalText(int64_t value)
{
    return std::to_string(value);
}

std::string signedSpaceText(int64_t value)
{
    return value < 0 ? decimalText(value) : " " + decimalText(value);
}

std::string countText(double count)
{
    return signedSpaceText(roundHalfEven<int64_t>(count));
}

std::string msText(int64_t value)
{
    return decimalText(value) + " ms";
}

std::string percentText(int64_t value)
{
    return decimalText(value) + " %";
}

double readNumber(std::string_view text)
{
    std::string packed;
    packed.reserve(text.size());
    for (char c : text) {
        if (!isIgnored(c))
            packed.push_back(c);
    }
    std::string_view rest = packed;
    bool negative = false;
    if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
        negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    const std::string_view number = numberPrefix(rest);
    if (number.empty())
        return 0.0;
    double value = 0.0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error == std::errc::result_out_of_range) {
        value = overflows(number) ? std::numeric_limits<double>::max() : 0.0;
    }
    return negative ? -value : value;
}
