#pragma once
// Windows-1251 is the dosimeter's and the catalogue's character set; inside the
// program all text is UTF-8. These convert at the boundaries.
#include <string>
#include <string_view>

namespace dm {

// Every byte maps to one character (0x98, unassigned in Windows-1251, maps to U+FFFD's
// nearest neighbour we can round-trip: U+0098).
std::string Cp1251ToUtf8(std::string_view bytes);

// Characters that Windows-1251 cannot hold become '?'. Invalid UTF-8 bytes also become '?'.
std::string Utf8ToCp1251(std::string_view utf8);

bool IsValidUtf8(std::string_view text);

// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);

// Number of characters (code points) of valid UTF-8 text; invalid bytes count one each.
std::size_t Utf8Length(std::string_view text);

// Byte length of the UTF-8 character that starts at text[pos] (1 for an invalid byte).
std::size_t Utf8CharLength(std::string_view text, std::size_t pos);

} // namespace dm
