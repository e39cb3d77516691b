#include "sim/device_numbers.h"

#include "core/numbers.h"

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
