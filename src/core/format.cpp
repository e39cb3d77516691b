#include "core/format.h"

#include "core/string_table.h"

#include <cmath>
#include <cstdio>

namespace dm {
namespace {

struct DoseBand {
    double below;  // the band holds values under this limit (and at or above the next)
    int digits;    // the value is multiplied by 10^digits and rounded
    int decimals;  // digits after the point in the shown number
    int unitId;
};

// From the largest band to the smallest.
constexpr DoseBand kBands[] = {
    {100.0, 1, 1, IDS_UNIT_SV},        {10.0, 2, 2, IDS_UNIT_SV},
    {1.0, 4, 1, IDS_UNIT_MSV},         {0.1, 5, 2, IDS_UNIT_MSV},
    {0.01, 6, 3, IDS_UNIT_MSV},        {0.001, 7, 1, IDS_UNIT_MKSV},
    {0.0001, 8, 2, IDS_UNIT_MKSV},     {0.00001, 9, 3, IDS_UNIT_MKSV},
};

constexpr double kPow10[] = {1.0, 10.0, 100.0, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

void TrimTwoZeros(std::string& text) {
    for (int i = 0; i < 2; ++i) {
        const std::size_t n = text.size();
        if (n >= 2 && text[n - 1] == '0' && text[n - 2] != '.')
            text.pop_back();
    }
}

// bandValue chooses the band, value gives the digits.
std::string FormatDoseWithBand(double value, double bandValue, int langBase) {
    if (!(value > 0.0) || std::isinf(value))
        return "0";
    if (bandValue >= 100.0) {
        char buf[400];
        std::snprintf(buf, sizeof buf, "%.1f", value);
        return std::string(buf) + " " + Tr(IDS_UNIT_SV, langBase);
    }
    if (bandValue < 1e-8)
        return "0.01 " + Tr(IDS_UNIT_MKSV, langBase);

    const DoseBand* band = &kBands[0];
    for (const DoseBand& b : kBands)
        if (bandValue < b.below)
            band = &b;

    // The rounded number has at most a dozen digits here, so it fits a long long; a
    // carry into one more digit simply moves the point with it (99.996 -> "100.00").
    const long long scaled = std::llround(value * kPow10[band->digits]);
    std::string digits = std::to_string(scaled);
    if (digits.size() < static_cast<std::size_t>(band->decimals) + 1)
        digits.insert(0, static_cast<std::size_t>(band->decimals) + 1 - digits.size(), '0');
    digits.insert(digits.size() - static_cast<std::size_t>(band->decimals), ".");
    TrimTwoZeros(digits);
    return digits + " " + Tr(band->unitId, langBase);
}

std::string TwoDigits(long long n) {
    std::string s = std::to_string(n);
    return n < 10 ? "0" + s : s;
}

} // namespace

std::string FormatDose(double sv, int langBase) { return FormatDoseWithBand(sv, sv, langBase); }

std::string FormatDoseChart(double sv, int langBase) {
    return FormatDoseWithBand(sv, sv + 1e-9, langBase);
}

std::string FormatDuration(long long seconds) {
    if (seconds < 0) {
        // Work on the magnitude as unsigned so the most negative value has one too.
        const unsigned long long magnitude = 0ULL - static_cast<unsigned long long>(seconds);
        const unsigned long long h = magnitude / 3600, rest = magnitude % 3600;
        std::string text = std::to_string(h);
        if (h < 10)
            text = "0" + text;
        return "-" + text + ":" + TwoDigits(static_cast<long long>(rest / 60)) + ":" +
               TwoDigits(static_cast<long long>(rest % 60));
    }
    if (seconds < 60)
        return "00:00:" + TwoDigits(seconds);
    if (seconds < 3600)
        return "00:" + TwoDigits(seconds / 60) + ":" + TwoDigits(seconds % 60);
    const long long rest = seconds % 3600;
    return TwoDigits(seconds / 3600) + ":" + TwoDigits(rest / 60) + ":" + TwoDigits(rest % 60);
}

} // namespace dm
