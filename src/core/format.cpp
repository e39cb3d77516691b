#include "core/format.h"

#include "core/numbers.h"
#include "core/string_table.h"

#include <algorithm>
#include <cmath>

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

constexpr double kSmallestShown = 1e-8; // 0.01 mkSv

// mkSv with `decimals` digits after the point, cut (not rounded) so it never reads more.
std::string MicroSievertsCut(double sv, int decimals, Language language) {
    const double scale = std::pow(10.0, decimals);
    const double cut = std::floor(sv * 1e6 * scale * (1 + 1e-12)) / scale;
    return CNumberText(cut, 'f', decimals) + " " + Tr(IDS_UNIT_MKSV, language);
}

constexpr double kPow10[] = {1.0, 10.0, 100.0, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

void TrimTwoZeros(std::string& text) {
    for (int i = 0; i < 2; ++i) {
        const std::size_t n = text.size();
        if (n >= 2 && text[n - 1] == '0' && text[n - 2] != '.')
            text.pop_back();
    }
}

// bandValue chooses the band, value gives the digits.
std::string FormatDoseWithBand(double value, double bandValue, Language language) {
    // Values no dosimeter can hold are shown for what they are, never as a plain zero.
    if (std::isnan(value))
        return kNotANumberText;
    if (std::isinf(value))
        return (value > 0 ? "INF " : "-INF ") + Tr(IDS_UNIT_SV, language);
    if (!(value > 0.0))
        return "0";
    if (value >= kExponentFormFromSv) {
        return CNumberText(value, 'E', 3) + " " + Tr(IDS_UNIT_SV, language);
    }
    if (bandValue >= 100.0) {
        return CNumberText(value, 'f', 1) + " " + Tr(IDS_UNIT_SV, language);
    }
    // Under the smallest step the bands show: said as such, never rounded up to it.
    if (value < kSmallestShown)
        return "< 0.01 " + Tr(IDS_UNIT_MKSV, language);

    const DoseBand* band = &kBands[0];
    for (const DoseBand& b : kBands)
        if (bandValue < b.below)
            band = &b;

    // The rounded number has at most a dozen digits here, so it fits a long long; a
    // carry into one more digit simply moves the point with it (99.996 -> "100.00").
    const long long scaled = std::llround(value * kPow10[band->digits]);
    const std::string raw = std::to_string(scaled);
    const auto decimals = static_cast<std::size_t>(band->decimals);
    const std::size_t intDigits = raw.size() > decimals ? raw.size() - decimals : 0;
    std::string text;
    text.reserve(raw.size() + 16);
    if (intDigits == 0)
        text += '0';
    else
        text.append(raw, 0, intDigits);
    text += '.';
    if (raw.size() < decimals)
        text.append(decimals - raw.size(), '0');
    text.append(raw, intDigits, std::string::npos);
    TrimTwoZeros(text);
    text += ' ';
    text += Tr(band->unitId, language);
    return text;
}


} // namespace

std::string FormatDose(double sv, Language language) { return FormatDoseWithBand(sv, sv, language); }

std::string FormatDoseChart(double sv, Language language) {
    return FormatDoseWithBand(sv, sv + 1e-9, language);
}

std::string FormatDoseReadout(double sv, Language language) {
    if (!(sv > 0.0) || sv >= kSmallestShown)
        return FormatDoseChart(sv, language);
    const int decimals = 1 - static_cast<int>(std::floor(std::log10(sv * 1e6)));
    return MicroSievertsCut(sv, std::min(decimals, 12), language);
}

std::string FormatDoseTick(double sv, double step, Language language) {
    if (!(sv > 0.0) || !(step > 0.0) || step >= kSmallestShown || std::isinf(sv))
        return FormatDoseChart(sv, language);
    // Enough decimals that neighbouring ticks never read alike.
    int decimals = 3;
    while (decimals < 12 && step * 1e6 * std::pow(10.0, decimals) < 1.0)
        ++decimals;
    return MicroSievertsCut(sv, decimals, language);
}

std::string FormatDuration(long long seconds) {
    // Built in one buffer: the history tables format tens of thousands of these.
    const bool negative = seconds < 0;
    const unsigned long long magnitude =
        negative ? 0ULL - static_cast<unsigned long long>(seconds)
                 : static_cast<unsigned long long>(seconds);
    unsigned long long hours = magnitude / 3600;
    const unsigned rest = static_cast<unsigned>(magnitude % 3600);
    char buf[32];
    char* end = buf + sizeof buf;
    char* p = end;
    auto put2 = [&p](unsigned v) {
        *--p = static_cast<char>('0' + v % 10);
        *--p = static_cast<char>('0' + v / 10);
    };
    put2(rest % 60);
    *--p = ':';
    put2(rest / 60);
    *--p = ':';
    if (hours < 10) {
        put2(static_cast<unsigned>(hours));
    } else {
        while (hours > 0) {
            *--p = static_cast<char>('0' + hours % 10);
            hours /= 10;
        }
    }
    if (negative)
        *--p = '-';
    return std::string(p, static_cast<std::size_t>(end - p));
}

} // namespace dm
