#pragma once
// Numbers as the dosimeter writes and reads them: doses with a capital "E" and a
// two-digit exponent ("1.234E-06"), whole numbers for counts and seconds. Decimal values
// it is sent are read by ParseNumberText(text, NumberForm::Plain).
#include "core/numbers.h"
#include "core/text_lines.h"

#include <optional>
#include <string>
#include <string_view>

namespace dm {

// "1.234E-06"; 0 and negative values give "0.000E+00".
std::string FormatDeviceNumber(double value);

// A whole number without sign or point, blanks around it allowed, at most 12 digits.
std::optional<long long> ParseWholeNumber(std::string_view text);

} // namespace dm
