#include "core/numbers.h"

#include <limits>

#include <gtest/gtest.h>

namespace dm {
namespace {

TEST(ParseDeviceNumber, CapitalEExponent) {
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("1.5E-03"), 0.0015);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("2.0E+02"), 200.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("1.0E-003"), 1.0);   // exponent cut to "00"
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("1.0E+123"), 1e12);  // "12"
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("3.0E 02"), 0.03);   // any sign but "+" divides
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("3.0E+2"), 300.0);   // one digit only
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("3.0E"), 3.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("E+05"), 0.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber(" -2.5E-01 Sv"), -0.25);
}

TEST(ParseDeviceNumber, PlainText) {
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("0.25"), 0.25);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("  12abc"), 12.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("1e-3"), 0.001); // small e is the standard reading
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("abc"), 0.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber(""), 0.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("inf"), 0.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("nan"), 0.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("0x10"), 0.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber(".5"), 0.5);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("+7."), 7.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("1e"), 1.0);
}

TEST(ParseDeviceNumber, ExtremesDoNotHang) {
    EXPECT_EQ(ParseDeviceNumber("1e999"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(ParseDeviceNumber("1e-999"), 0.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("1E-99"), 1e-99);
}

TEST(CLong, LikeAtol) {
    EXPECT_EQ(CLong(" 42x"), 42);
    EXPECT_EQ(CLong("-17"), -17);
    EXPECT_EQ(CLong("+3"), 3);
    EXPECT_EQ(CLong("x1"), 0);
    EXPECT_EQ(CLong(""), 0);
    EXPECT_EQ(CLong("60.9"), 60);
    EXPECT_EQ(CLong("99999999999999999999999"), std::numeric_limits<long long>::max());
    EXPECT_EQ(CLong("-99999999999999999999999"), std::numeric_limits<long long>::min());
}

} // namespace
} // namespace dm
