#include "access/access_codes.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

TEST(AccessCodes, TheSameCodeUnlocksThenLocks) {
    auto first = ApplyPassword("20947", 0, Language::English);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->access, 1);
    EXPECT_EQ(first->message, "\"Detector sensitivity\" is now accessible.");
    EXPECT_TRUE(first->requestParameters);
    auto second = ApplyPassword("20947", first->access, Language::English);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->access, 0);
    EXPECT_EQ(second->message, "\"Detector sensitivity\" is no longer available.");
    EXPECT_TRUE(second->requestParameters);
}

TEST(AccessCodes, EachGroupItsBitAndLanguage) {
    auto gamma = ApplyPassword("64213", 0, Language::English);
    auto xray = ApplyPassword("71590", gamma->access, Language::English);
    EXPECT_EQ(xray->access, 6);
    EXPECT_EQ(xray->message.rfind("New parameters are now available", 0), 0u);
    auto lock = ApplyPassword("71590", 7, Language::Russian);
    EXPECT_EQ(lock->access, 3);
    EXPECT_EQ(lock->message.rfind("Коэффициенты чувствительности", 0), 0u);
    EXPECT_EQ(ApplyPassword("64213", 2, Language::English)->message,
              "\"Gamma correction coefficient\" is no longer available.");
}

TEST(AccessCodes, OnlyTheExactTextCounts) {
    for (const char* wrong : {" 20947", "20947 ", "2094", "209470", "64 213", "x"}) {
        auto outcome = ApplyPassword(wrong, 5, Language::English);
        ASSERT_TRUE(outcome) << wrong;
        EXPECT_EQ(outcome->access, 5) << wrong;
        EXPECT_EQ(outcome->message, "Wrong password.") << wrong;
        EXPECT_FALSE(outcome->requestParameters) << wrong;
    }
    EXPECT_EQ(ApplyPassword("1", 0, Language::Russian)->message, "Неверный пароль.");
    EXPECT_FALSE(ApplyPassword("", 3, Language::English)); // an empty entry does nothing
}

} // namespace
} // namespace dm
