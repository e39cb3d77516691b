#pragma once
// Dose and duration texts: doses in Sv shown in mkSv, mSv or Sv by size; whole seconds
// shown as hours, minutes and seconds.
#include "core/language.h"

#include <string>

namespace dm {

// Doses from this size on lie far beyond any dosimeter's range and show in exponent form.
inline constexpr double kExponentFormFromSv = 1e6;

// What a dose that is not a number shows as: an em dash, which Windows-1251 also holds.
inline constexpr const char* kNotANumberText = "\xE2\x80\x94";

// The tables' dose formatting: the unit band is chosen by the value itself.
// 0 and negative values give "0"; a dose under 0.01 mkSv reads "< 0.01 mkSv"; 100 Sv and
// more show in Sv with one decimal ("123.4 Sv"), from kExponentFormFromSv on in exponent
// form ("1.000E+99 Sv"); infinities show as "INF Sv" or "-INF Sv", NaN as kNotANumberText.
std::string FormatDose(double sv, Language language);

// The chart's dose formatting: the same, except that the band is chosen by the value
// with 1e-9 added (so a value just below a band limit moves up a band).
std::string FormatDoseChart(double sv, Language language);

// A diagram's read-out: as FormatDoseChart, but a dose under 0.01 mkSv shows with two
// significant digits ("0.0027 mkSv"), cut rather than rounded up.
std::string FormatDoseReadout(double sv, Language language);

// A value axis label of a diagram whose ticks are `step` apart: as FormatDoseChart, but
// ticks closer than 0.01 mkSv get the decimals that tell them apart.
std::string FormatDoseTick(double sv, double step, Language language);

// "HH:MM:SS" with at least two digits per field; hours are not limited.
// Negative durations show as "-" followed by the absolute value's text.
std::string FormatDuration(long long seconds);

// The chart's time labels use the same text.
inline std::string FormatTime(long long seconds) { return FormatDuration(seconds); }

} // namespace dm
