#include "core/text_lines.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

TEST(SplitKeyValueLine, KeyEndsAtTheFirstEqualsAndTheValueIsTheReadersToClean) {
    KeyValueLine kv = SplitKeyValueLine(" \tuserinfo\r = \"a = b\" \r");
    EXPECT_TRUE(kv.hasValue);
    EXPECT_EQ(kv.key, "userinfo");
    EXPECT_EQ(kv.value, " \"a = b\" \r");
    kv = SplitKeyValueLine(" get_parameters\t");
    EXPECT_FALSE(kv.hasValue);
    EXPECT_EQ(kv.key, "get_parameters");
    kv = SplitKeyValueLine(" =");
    EXPECT_TRUE(kv.hasValue);
    EXPECT_EQ(kv.key, "");
    EXPECT_EQ(kv.value, "");
    EXPECT_EQ(TrimBlanks(" \t a b\t "), "a b");
    EXPECT_EQ(TrimBlanks("\r x"), "\r x");
}

} // namespace
} // namespace dm
