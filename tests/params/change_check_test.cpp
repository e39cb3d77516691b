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
    EXPECT_EQ(Reason("dose_threshold", "+-5"), "not a number: a number from 0 to below 100");
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
    EXPECT_EQ(CheckValue(*DescribeParameter("dose_threshold"), "abc", Language::Russian).reason,
              "не число; допустимо: число от 0 до 100, не включая 100");
}

} // namespace
} // namespace dm

namespace dm {
namespace {

// With a protected group unlocked, the renewed reply lacks the protected rows: the check
// asks for them, and only their reply ends it with every value not kept.
TEST(RenewedParametersCheck, WaitsForTheProtectedRowsBeforeSummingUp) {
    RenewedParametersCheck check;
    EXPECT_FALSE(check.parametersReceived(ReadParameterSet("dose_threshold = 1\r\n")).readProtectedNext);

    check.commandSent({{"dose_threshold", "2.5E-03"}, {"coef_gamma", "1.10"}}, true);
    const auto renewed = check.parametersReceived(ReadParameterSet("dose_threshold = 1.000E-03\r\n"));
    ASSERT_EQ(renewed.notTaken.size(), 1u);
    EXPECT_EQ(renewed.notTaken[0].detail, "1.000E-03");
    EXPECT_TRUE(renewed.readProtectedNext);
    EXPECT_TRUE(renewed.summary.empty());

    const auto all = check.parametersReceived(
        ReadParameterSet("dose_threshold = 1.000E-03\r\ncoef_gamma = 1.05\r\n"));
    EXPECT_FALSE(all.readProtectedNext);
    ASSERT_EQ(all.summary.size(), 2u);
    EXPECT_EQ(all.summary[1].key, "coef_gamma");
    // Over: a later reply is not compared again.
    EXPECT_TRUE(check.parametersReceived(ReadParameterSet("coef_gamma = 9\r\n")).notTaken.empty());
}

} // namespace
} // namespace dm

namespace dm {
namespace {

// A value the dosimeter writes back rounded to its own digits is taken and told; only a
// value its digits cannot explain is not taken.
TEST(NotTaken, RoundingToTheDigitsWrittenBackIsNoRefusal) {
    std::vector<std::pair<std::string, std::string>> sent = {
        {"dose_threshold", "1.23456E-05"}, {"rate_threshold", "1.23456E-05"},
        {"g_ks_large", "0.98004"}, {"history_time", "61.7"}, {"n_ks", "0.00004"},
        {"userinfo", "Ivanov"}};
    std::vector<ValueProblem> rounded;
    const std::vector<ValueProblem> refused = NotTaken(
        sent,
        ReadParameterSet("dose_threshold = 1.235E-05\r\nrate_threshold = 1.234E-05\r\n"
                         "g_ks_large = 0.9800\r\nhistory_time = 62\r\nn_ks = 0\r\nuserinfo = \"Petrov\"\r\n"),
        &rounded);
    ASSERT_EQ(rounded.size(), 3u);
    EXPECT_EQ(rounded[0].detail, "1.235E-05");
    EXPECT_EQ(rounded[1].key, "g_ks_large");
    EXPECT_EQ(rounded[2].detail, "62");
    // 1.23456 does not round to 1.234; a zero has no digits to round to; text is text.
    ASSERT_EQ(refused.size(), 3u);
    EXPECT_EQ(refused[0].key, "rate_threshold");
    EXPECT_EQ(refused[1].key, "n_ks");
    EXPECT_EQ(refused[2].key, "userinfo");
    EXPECT_TRUE(sent.empty());
}

} // namespace
} // namespace dm
