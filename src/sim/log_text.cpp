#include "sim/log_text.h"

#include "core/cp1251.h"

namespace dm {
namespace {

const char* const kHexDigits = "0123456789ABCDEF";

void AppendHexByte(std::string& out, unsigned char b) {
    out += "\\x";
    out += kHexDigits[b >> 4];
    out += kHexDigits[b & 15];
}

void AppendUnicodeEscape(std::string& out, char32_t cp) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += kHexDigits[(cp >> shift) & 15];
}

// Characters that a terminal or log viewer would act on, or that would make the line
// read differently from what it holds, rather than show.
bool IsInvisibleControl(char32_t cp) {
    return (cp >= 0x80 && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029 || cp == 0x200E ||
           cp == 0x200F || (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) ||
           cp == 0xFEFF;
}

char32_t DecodeValid(std::string_view bytes) {
    const auto b0 = static_cast<unsigned char>(bytes[0]);
    if (bytes.size() == 1)
        return b0;
    char32_t cp = b0 & (0x7F >> bytes.size());
    for (std::size_t i = 1; i < bytes.size(); ++i)
        cp = (cp << 6) | (static_cast<unsigned char>(bytes[i]) & 0x3F);
    return cp;
}

} // namespace

std::string QuotedForLog(std::string_view utf8, std::size_t maxChars) {
    std::string out = "\"";
    std::size_t chars = 0;
    std::size_t pos = 0;
    while (pos < utf8.size() && chars < maxChars) {
        const std::size_t len = Utf8CharLength(utf8, pos);
        const std::string_view one = utf8.substr(pos, len);
        const auto b0 = static_cast<unsigned char>(one[0]);
        pos += len;
        ++chars;
        if (len == 1 && b0 >= 0x80) { // not UTF-8
            AppendHexByte(out, b0);
            continue;
        }
        const char32_t cp = DecodeValid(one);
        switch (cp) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (cp < 0x20 || cp == 0x7F)
                AppendHexByte(out, static_cast<unsigned char>(cp));
            else if (IsInvisibleControl(cp))
                AppendUnicodeEscape(out, cp);
            else
                out.append(one);
        }
    }
    out += '"';
    if (pos < utf8.size())
        out += "... (" + std::to_string(Utf8Length(utf8)) + " characters)";
    return out;
}

} // namespace dm
