#pragma once
// Dose and duration texts: doses in Sv shown in mkSv, mSv or Sv by size; whole seconds
// shown as hours, minutes and seconds.
#include <string>

namespace dm {

// The tables' dose formatting: the unit band is chosen by the value itself.
// 0, negative values, NaN and infinities give "0"; 100 Sv and more show in Sv with one
// decimal ("123.4 Sv"); a dose under 0.01 mkSv reads "< 0.01 mkSv".
std::string FormatDose(double sv, int langBase);

// The chart's dose formatting: the same, except that the band is chosen by the value
// with 1e-9 added (so a value just below a band limit moves up a band).
std::string FormatDoseChart(double sv, int langBase);

// A diagram's read-out: as FormatDoseChart, but a dose under 0.01 mkSv shows with two
// significant digits ("0.0027 mkSv"), cut rather than rounded up.
std::string FormatDoseReadout(double sv, int langBase);

// A value axis label of a diagram whose ticks are `step` apart: as FormatDoseChart, but
// ticks closer than 0.01 mkSv get the decimals that tell them apart.
std::string FormatDoseTick(double sv, double step, int langBase);

// "HH:MM:SS" with at least two digits per field; hours are not limited.
// Negative durations show as "-" followed by the absolute value's text.
std::string FormatDuration(long long seconds);

// The chart's time labels use the same text.
inline std::string FormatTime(long long seconds) { return FormatDuration(seconds); }

} // namespace dm
