#include "core/numbers.h"

#include "core/text_lines.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace dm {
namespace {

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Powers of ten a double holds exactly.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

} // namespace

long long LeadingInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsCSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (text.size() - i <= 18) {
        // Eighteen digits cannot overflow: no checks needed (times and exponents).
        long long value = 0;
        for (; i < text.size() && IsDigit(text[i]); ++i)
            value = value * 10 + (text[i] - '0');
        return negative ? -value : value;
    }
    unsigned long long value = 0;
    constexpr unsigned long long kLimit =
        static_cast<unsigned long long>(std::numeric_limits<long long>::max());
    bool overflow = false;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        if (!overflow) {
            value = value * 10 + static_cast<unsigned long long>(text[i] - '0');
            if (value > kLimit + 1)
                overflow = true;
        }
    }
    if (overflow || (!negative && value > kLimit))
        return negative ? std::numeric_limits<long long>::min()
                        : std::numeric_limits<long long>::max();
    if (negative)
        return value == kLimit + 1 ? std::numeric_limits<long long>::min()
                                   : -static_cast<long long>(value);
    return static_cast<long long>(value);
}

double LeadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsCSpace(text[i]))
        ++i;
    const std::size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    // The digits as one integer while it stays exact (at most 15 digits).
    std::uint64_t mantissa = 0;
    std::size_t digits = 0, fractionDigits = 0;
    while (i < text.size() && IsDigit(text[i])) {
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(text[i] - '0');
        ++i;
        ++digits;
        if (digits > 18)
            mantissa = 0; // beyond the fast path anyway; keeps the product from overflowing
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigit(text[i])) {
            mantissa = mantissa * 10 + static_cast<std::uint64_t>(text[i] - '0');
            ++i;
            ++digits;
            ++fractionDigits;
            if (digits > 18)
                mantissa = 0;
        }
    }
    if (digits == 0)
        return 0.0;
    std::size_t end = i;
    const bool hasExponent = i < text.size() && (text[i] == 'e' || text[i] == 'E');
    if (!hasExponent && digits <= 15 && fractionDigits <= 22) {
        // An integer below 2^53 over an exact power of ten: one correctly rounded division,
        // the same double from_chars gives, without its cost (a dose archive reads
        // thousands of these).
        const double value = static_cast<double>(mantissa) / kPow10[fractionDigits];
        return text[start] == '-' ? -value : value;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        if (j < text.size() && IsDigit(text[j])) {
            while (j < text.size() && IsDigit(text[j]))
                ++j;
            end = j;
        }
    }
    // from_chars takes no leading '+'.
    std::size_t from = start;
    if (text[from] == '+')
        ++from;
    double value = 0.0;
    const auto result = std::from_chars(text.data() + from, text.data() + end, value);
    if (result.ec == std::errc::result_out_of_range) {
        // Saturate like strtod does.
        const bool negative = text[from] == '-';
        const std::string_view number = text.substr(from, end - from);
        const auto e = number.find_first_of("eE");
        const bool tiny = e != std::string_view::npos && LeadingInteger(number.substr(e + 1)) < 0;
        if (tiny)
            return negative ? -0.0 : 0.0;
        return negative ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
    }
    return value;
}

namespace {

// The dosimeter's own forms, "1.25" and "4.25E-05" (at most 15 digits, nothing around
// them), read in one pass into the double the general reading gives; nothing for any other
// text. An archive holds thousands of these.
std::optional<double> ReadShortDeviceNumber(std::string_view text) {
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+'))
        ++i;
    if (text.size() - i > 20)
        return std::nullopt; // longer than any such form
    std::uint64_t mantissa = 0;
    const std::size_t first = i;
    for (; i < text.size() && IsDigit(text[i]); ++i)
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(text[i] - '0');
    std::size_t digits = i - first, fractionDigits = 0;
    if (i < text.size() && text[i] == '.') {
        const std::size_t point = ++i;
        for (; i < text.size() && IsDigit(text[i]); ++i)
            mantissa = mantissa * 10 + static_cast<std::uint64_t>(text[i] - '0');
        fractionDigits = i - point;
        digits += fractionDigits;
    }
    if (digits == 0 || digits > 15)
        return std::nullopt;
    double value = static_cast<double>(mantissa) / kPow10[fractionDigits];
    if (negative)
        value = -value;
    if (i == text.size())
        return value;
    if (text[i] != 'E' || i + 4 != text.size() || !IsDigit(text[i + 2]) || !IsDigit(text[i + 3]))
        return std::nullopt;
    const int exponent = (text[i + 2] - '0') * 10 + (text[i + 3] - '0');
    if (text[i + 1] == '+')
        for (int k = 0; k < exponent; ++k)
            value *= 10.0;
    else
        for (int k = 0; k < exponent; ++k)
            value /= 10.0;
    return value;
}

} // namespace

double ParseDeviceNumber(std::string_view text) {
    if (const std::optional<double> value = ReadShortDeviceNumber(text))
        return *value;
    const std::size_t e = text.find('E');
    if (e == std::string_view::npos)
        return LeadingNumber(text);
    double mantissa = LeadingNumber(text.substr(0, e));
    const bool multiply = e + 1 < text.size() && text[e + 1] == '+';
    const std::string_view expText = e + 2 < text.size() ? text.substr(e + 2, 2) : std::string_view{};
    const long long exponent = LeadingInteger(expText);
    for (long long k = 0; k < exponent; ++k)
        mantissa = multiply ? mantissa * 10.0 : mantissa / 10.0;
    return mantissa;
}

std::string ShortestNumberText(double v) {
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, r.ptr);
}

std::string CNumberText(double v, char conversion, int precision) {
    // to_chars with a precision is printf in the "C" locale by definition.
    const std::chars_format format = conversion == 'f'   ? std::chars_format::fixed
                                     : conversion == 'g' ? std::chars_format::general
                                                         : std::chars_format::scientific;
    char buffer[400]; // "%.*f" of 1e308 with a few decimals
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, v, format, precision);
    std::string text = r.ec == std::errc() ? std::string(buffer, r.ptr) : ShortestNumberText(v);
    if (conversion == 'E')
        for (char& c : text)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
    return text;
}

namespace {

// [-]digits[.digits][(e|E)[sign]digits] with at least one digit before the exponent.
bool IsPlainDecimal(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && text[i] == '-')
        ++i;
    std::size_t digits = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i)
        ++digits;
    if (i < text.size() && text[i] == '.')
        for (++i; i < text.size() && IsDigit(text[i]); ++i)
            ++digits;
    if (digits == 0)
        return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (i == text.size())
            return false;
        while (i < text.size() && IsDigit(text[i]))
            ++i;
    }
    return i == text.size();
}

} // namespace

std::optional<double> ParseNumberText(std::string_view text, NumberForm form) {
    const bool plain = form == NumberForm::Plain;
    if (plain)
        text = TrimBlanks(text);
    else
        while (!text.empty() && IsCSpace(text.front()))
            text.remove_prefix(1);
    // One sign: from_chars takes a '-' but no '+'.
    if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+')
        text.remove_prefix(1);
    if (text.empty() || (plain && !IsPlainDecimal(text)))
        return std::nullopt;
    double value = 0.0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size())
        return std::nullopt;
    return value;
}

double RoundToSignificantDigits(double v, int digits) {
    if (!std::isfinite(v) || v == 0.0)
        return v;
    return ParseNumberText(CNumberText(v, 'g', digits)).value_or(v);
}

std::optional<int> ParsePortNumber(std::string_view text) {
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535)
        return std::nullopt;
    return value;
}

} // namespace dm
