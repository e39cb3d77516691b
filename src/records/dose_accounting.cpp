#include "records/dose_accounting.h"

#include "core/numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace dm::records {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Powers of ten a double holds exactly.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// v rounded to `digits` (at most 15) significant decimal digits: the nearest double to
// that decimal, independent of the locale.
double Significant(double v, int digits) {
    // Mostly an integer of at most fifteen digits over an exact power of ten: one correctly
    // rounded division (an increment is worked out for every readout of a report).
    const int scale = digits - 1 - static_cast<int>(std::floor(std::log10(std::fabs(v))));
    if (scale >= 0 && scale <= 22)
        return std::round(v * kPow10[scale]) / kPow10[scale];
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, v, std::chars_format::scientific, digits - 1);
    double out = v;
    std::from_chars(text, written.ptr, out);
    return out;
}

} // namespace

std::vector<Accounted> AccountReadouts(const std::vector<AccountingReadout>& readouts,
                                       std::vector<std::int64_t> erases) {
    std::sort(erases.begin(), erases.end());
    std::vector<Accounted> out(readouts.size());
    const AccountingReadout* previous = nullptr;
    for (std::size_t i = 0; i < readouts.size(); ++i) {
        const AccountingReadout& r = readouts[i];
        Accounted& a = out[i];
        if (!r.totalDose || r.invalidDose) {
            a.flags.push_back(r.invalidDose ? "invalid-dose" : "no-dose");
            continue;
        }
        const double total = *r.totalDose;
        if (!previous) {
            a.increment = 0.0;
            a.flags.push_back("baseline");
        } else {
            // An erase in (previous.at, r.at] restarted the counter.
            const auto next = std::upper_bound(erases.begin(), erases.end(), previous->at);
            if (next != erases.end() && *next <= r.at) {
                a.increment = total;
                a.flags.push_back("after-erase");
            } else if (total >= *previous->totalDose) {
                a.increment = DoseDifference(total, *previous->totalDose);
            } else {
                a.increment = total;
                a.flags.push_back("reset");
            }
        }
        previous = &r;
    }
    return out;
}

std::optional<std::string> WearerAt(const std::vector<Assignment>& assignments, std::int64_t at) {
    for (const Assignment& a : assignments) {
        if (a.from < at && (!a.until || at <= *a.until))
            return a.wearer;
    }
    return std::nullopt;
}

std::optional<double> DoseFromText(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return std::nullopt;
    text = text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
    // [+] digits [. digits] [exponent]: at least one digit, nothing after it.
    std::size_t i = 0;
    if (text[i] == '+')
        ++i;
    std::size_t digits = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i)
        ++digits;
    if (i < text.size() && text[i] == '.')
        for (++i; i < text.size() && IsDigit(text[i]); ++i)
            ++digits;
    if (digits == 0)
        return std::nullopt;
    if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
        // The dosimeter's "E" takes a sign and two digits; "e" is the usual exponent.
        const bool device = text[i] == 'E';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        else if (device)
            return std::nullopt;
        const std::size_t exponent = i;
        for (; i < text.size() && IsDigit(text[i]); ++i) {
        }
        if (device ? i - exponent != 2 : (i == exponent || i - exponent > 3))
            return std::nullopt;
    }
    if (i != text.size())
        return std::nullopt;
    const double v = ParseDeviceNumber(text);
    if (!std::isfinite(v) || v < 0)
        return std::nullopt;
    // Fifteen digits hold every decimal a dosimeter writes and drop the scaling's noise.
    return v == 0 ? 0.0 : Significant(v, 15);
}

double DoseDifference(double later, double earlier) {
    const double d = later - earlier;
    if (d == 0 || !std::isfinite(d))
        return d;
    // The readings are exact to about fifteen digits of the larger one: the difference
    // keeps the digits from there down to its own first digit, the rest is noise.
    const double larger = std::max(std::fabs(later), std::fabs(earlier));
    const int lost = static_cast<int>(std::floor(std::log10(larger)) - std::floor(std::log10(std::fabs(d))));
    return Significant(d, std::clamp(15 - lost, 1, 15));
}

} // namespace dm::records
