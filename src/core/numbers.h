#pragma once
// Number readings shared by the parsers. None of them depend on the C locale.
#include <optional>
#include <string>
#include <string_view>

namespace dm {

// C atol: leading white space, optional sign, digits up to the first other character;
// no digits give 0. Out-of-range values saturate.
long long LeadingInteger(std::string_view text);

// C strtod restricted to plain decimal numbers: leading white space, optional sign,
// digits with an optional point, optional exponent; stops at the first character that
// does not fit; no number gives 0. No "inf", "nan" or hexadecimal forms.
double LeadingNumber(std::string_view text);

// The dosimeter's number format: a capital "E" is followed by a sign character and a
// two-digit exponent applied by repeated multiplication (sign "+") or division (any
// other sign) by 10. Text without a capital "E" is read as LeadingNumber reads it.
double ParseDeviceNumber(std::string_view text);

// The shortest decimal text that reads back as exactly v ("0.0001", "2.5e-07").
std::string ShortestNumberText(double v);

// printf's "%.*f", "%.*e", "%.*E" or "%.*g" (conversion 'f', 'e', 'E' or 'g') as the "C"
// locale writes it, whatever locale the program runs in: the window and the PDF writer
// run under the user's locale, where printf would write "1,5".
std::string CNumberText(double v, char conversion, int precision);

// What a whole-text number reading lets through besides the number itself.
enum class NumberForm {
    // As strtod reads it in the "C" locale: leading white space, one sign, "inf" and "nan"
    // too; nothing after the number. Texts this program wrote itself.
    CLocale,
    // Digits with an optional point and exponent, one sign, blanks (space, tab) on both
    // sides; no "inf", "nan" or hexadecimal forms. Values a user typed or a command file
    // carries.
    Plain,
};

// The whole text as one decimal number in the given form; nothing when a character is left
// over or the value is out of range. Never depends on the program's locale.
std::optional<double> ParseNumberText(std::string_view text, NumberForm form = NumberForm::CLocale);

// v kept to `digits` significant digits ("%.*g" read back), locale-free.
double RoundToSignificantDigits(double v, int digits);

// A TCP port as written in an address: 1 to 65535, digits only, at most five of them.
std::optional<int> ParsePortNumber(std::string_view text);

} // namespace dm
