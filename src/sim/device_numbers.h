#pragma once
// Numbers as the dosimeter writes and reads them: doses with a capital "E" and a
// two-digit exponent ("1.234E-06"), whole numbers for counts and seconds.
#include <optional>
#include <string>
#include <string_view>

namespace dm {

// "1.234E-06"; 0 and negative values give "0.000E+00".
std::string FormatDeviceNumber(double value);

// A plain decimal number, optionally with an exponent ("e" or "E"), blanks around it
// allowed; nothing for anything else (empty, trailing garbage, inf, nan).
std::optional<double> ParseStrictNumber(std::string_view text);

// A whole number without sign or point, blanks around it allowed, at most 12 digits.
std::optional<long long> ParseWholeNumber(std::string_view text);

// Text with the blanks at both ends removed.
std::string_view TrimBlanks(std::string_view text);

} // namespace dm
