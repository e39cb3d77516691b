// What a changed value must be before "Send changes" pushes it. (Which values the
// dosimeter did not keep is walked end to end in the window's session test.)
#include "params/change_check.h"

#include "core/string_table.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

std::string Reason(std::string_view key, std::string_view value) {
    return CheckValue(*DescribeParameter(key), value).reason;
}

TEST(CheckValue, RefusesWhatTheDosimeterWouldDropAndTakesItsEdges) {
    // The entries a user typed that used to go out and come back as the old value.
    EXPECT_EQ(Reason("dose_threshold", "abc"), "not a number: a number from 0 to below 100");
    EXPECT_EQ(Reason("dose_threshold", "-5"), "must be a number from 0 to below 100");
    EXPECT_EQ(Reason("dose_threshold", "99999999999999999999999"), "must be a number from 0 to below 100");
    EXPECT_EQ(Reason("dose_threshold", ""), "a number is needed: a number from 0 to below 100");
    EXPECT_EQ(Reason("dose_threshold", "1e999"), "not a number: a number from 0 to below 100");
    EXPECT_EQ(Reason("dose_threshold", "inf"), "not a number: a number from 0 to below 100");
    EXPECT_EQ(Reason("dose_threshold", "100"), "must be a number from 0 to below 100");
    EXPECT_EQ(Reason("dose_threshold", "0"), "");
    EXPECT_EQ(Reason("dose_threshold", " +1.5E-03 "), "");
    const CheckedValue comma = CheckValue(*DescribeParameter("rate_threshold"), "2,5E-05");
    EXPECT_TRUE(comma.ok());
    EXPECT_EQ(comma.sent, "2.5E-05");

    EXPECT_EQ(Reason("history_time", "1"), "");
    EXPECT_EQ(Reason("history_time", "86400"), "");
    EXPECT_EQ(Reason("history_time", "86401"), "must be a whole number from 1 to 86400");
    EXPECT_EQ(Reason("history_time", "0"), "must be a whole number from 1 to 86400");
    EXPECT_EQ(Reason("history_time", "1.5"), "not a whole number: a whole number from 1 to 86400");
    EXPECT_EQ(Reason("g_ks_large", "0"), "must be a number from 0.0001 to below 1000");
    EXPECT_EQ(Reason("g_ks_large", "0.0001"), "");

    EXPECT_EQ(Reason("cfg_alarmoff", "on"), "must be enable or disable");
    EXPECT_EQ(Reason("cfg_alarmoff", "disable"), "");
    EXPECT_EQ(Reason("userinfo", "say \"hi\""), "no double quotes inside the text");
    EXPECT_EQ(Reason("userinfo", std::string(100, 'x')), "");
    EXPECT_EQ(Reason("userinfo", std::string(101, 'x')), "at most 100 characters");
    // Characters, not bytes: a hundred Cyrillic letters are two hundred bytes.
    std::string cyrillic;
    for (int i = 0; i < 100; ++i)
        cyrillic += "\xD0\xAF";
    EXPECT_EQ(Reason("userinfo", cyrillic), "");

    // In Russian, for the window in Russian.
    EXPECT_EQ(CheckValue(*DescribeParameter("dose_threshold"), "abc", kLangRussian).reason,
              "не число; допустимо: число от 0 до 100, не включая 100");
}

} // namespace
} // namespace dm
