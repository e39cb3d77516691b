#include "core/cp1251.h"
#include "core/reply_text.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

namespace dm {
namespace {

TEST(Cp1251, EveryByteRoundTrips) {
    for (int b = 0; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const std::string utf8 = Cp1251ToUtf8(byte);
        EXPECT_TRUE(IsValidUtf8(utf8)) << b;
        EXPECT_EQ(Utf8ToCp1251(utf8), byte) << b;
        EXPECT_EQ(Utf8Length(utf8), 1u) << b;
    }
}

TEST(Cp1251, CyrillicAndSymbols) {
    EXPECT_EQ(Cp1251ToUtf8("\xCF\xE0\xF0\xE0\xEC\xE5\xF2\xF0\xFB"), "Параметры");
    EXPECT_EQ(Utf8ToCp1251("№ Ёё"), "\xB9 \xA8\xB8");
    EXPECT_EQ(Cp1251ToUtf8("\x88"), "€");
}

TEST(Cp1251, UnrepresentableAndInvalidBecomeQuestionMarks) {
    EXPECT_EQ(Utf8ToCp1251("a\xE4\xB8\x80z"), "a?z"); // a CJK character
    EXPECT_EQ(Utf8ToCp1251("a\xFFz"), "a?z");         // not UTF-8 at all
    EXPECT_EQ(Utf8ToCp1251("a\xD0"), "a?");           // cut-off sequence
}

TEST(Cp1251, Utf8Validation) {
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("plain ascii"));
    EXPECT_TRUE(IsValidUtf8("Значение"));
    EXPECT_FALSE(IsValidUtf8("\xCF\xE0\xF0")); // Windows-1251 bytes
    EXPECT_FALSE(IsValidUtf8("\xC0\x80"));     // overlong NUL
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80")); // surrogate
    EXPECT_EQ(Utf8Length("Зв/ч"), 4u);
}

TEST(ReplyText, AnyBytesBecomeTheNormalisedTextWhereverTheSpecialBytesFall) {
    // Plain bytes are copied eight at a time: zero bytes, line feeds and Cyrillic bytes at
    // every position inside and across those words must come out as one byte at a time would.
    const std::string specials = std::string("\0\n\r\xC0\xFF\x98 7E", 10);
    std::uint32_t seed = 7;
    for (int n = 0; n < 3000; ++n) {
        std::string bytes;
        for (int len = n % 37; len > 0; --len) {
            seed = seed * 1664525u + 1013904223u;
            bytes += (seed >> 28) < 3 ? specials[(seed >> 8) % specials.size()] : static_cast<char>('a' + (seed >> 16) % 26);
        }
        ASSERT_EQ(CountLineFeeds(bytes), static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')));
        ASSERT_EQ(ReplyTextFromBytes(bytes), Cp1251ToUtf8(NormaliseReplyBytes(bytes))) << n;
    }
}

} // namespace
} // namespace dm
