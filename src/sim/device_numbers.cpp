#include "sim/device_numbers.h"

#include "core/numbers.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace dm {
namespace {
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
} // namespace

std::string FormatDeviceNumber(double value) {
    if (!(value > 0) || !std::isfinite(value))
        value = 0;
    return CNumberText(value, 'E', 3); // never "1,500E-03", whatever the window's locale
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::optional<double> ParseStrictNumber(std::string_view text) {
    text = TrimBlanks(text);
    // Check the shape first: from_chars alone would take "inf" or hexadecimal forms.
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::size_t digits = 0;
    while (i < text.size() && IsDigit(text[i]))
        ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigit(text[i]))
            ++i, ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        std::size_t expDigits = 0;
        while (i < text.size() && IsDigit(text[i]))
            ++i, ++expDigits;
        if (expDigits == 0)
            return std::nullopt;
    }
    if (i != text.size())
        return std::nullopt;
    const char* begin = text.data();
    if (*begin == '+')
        ++begin;
    double value = 0;
    const auto result = std::from_chars(begin, text.data() + text.size(), value);
    if (result.ec != std::errc{} || result.ptr != text.data() + text.size() ||
        !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<long long> ParseWholeNumber(std::string_view text) {
    text = TrimBlanks(text);
    if (text.empty() || text.size() > 12)
        return std::nullopt;
    long long value = 0;
    for (char c : text) {
        if (!IsDigit(c))
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace dm
