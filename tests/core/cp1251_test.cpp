#include "core/cp1251.h"

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

} // namespace
} // namespace dm
