#pragma once
#include <cstdint>
#include <string>

namespace dm {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// "#rrggbb", lower case.
inline std::string ToHex(Rgb c) {
    static const char* digits = "0123456789abcdef";
    std::string s = "#";
    for (std::uint8_t v : {c.r, c.g, c.b}) {
        s += digits[v >> 4];
        s += digits[v & 15];
    }
    return s;
}

} // namespace dm
