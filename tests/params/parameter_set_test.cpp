#include "params/parameter_set.h"

#include "params_test_support.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

TEST(ParameterSet, SampleReplyKeepsEveryLineAsReceived) {
    const ParameterSet set = ReadParameterSet(test::Reply("params-krt17a.txt"));
    EXPECT_EQ(set.modelName(), "KRT-17A");
    EXPECT_EQ(set.serialNumber(), "170123");
    ASSERT_TRUE(set.totalDose().has_value());
    EXPECT_DOUBLE_EQ(*set.totalDose(), 200.0);
    EXPECT_EQ(set.raw("wtx[01]"), "1.2");
    EXPECT_EQ(set.raw("dose_val"), "1.5E-03");
    EXPECT_EQ(set.parameters().front().key, "serial_number");
    EXPECT_FALSE(set.raw("wtx").has_value()); // keys match whole, not as substrings
}

TEST(ParameterSet, OddLinesAndEmptyReply) {
    const ParameterSet set = ReadParameterSet(" a = \"x\" \r\n= orphan\r\nno equals\r\nb=\r\nc = 1 = 2");
    ASSERT_EQ(set.parameters().size(), 3u);
    EXPECT_EQ(set.raw("a"), "x ");
    EXPECT_EQ(set.raw("b"), "");
    EXPECT_EQ(set.raw("c"), "1 = 2");
    EXPECT_EQ(set.modelName(), "MLV-52B");
    EXPECT_FALSE(set.totalDose().has_value());
    EXPECT_EQ(ReadParameterSet("").modelName(), "");
    // The model follows the keys, not a word in a value.
    EXPECT_EQ(ReadParameterSet("userinfo = \"neutron lab\"\r\n").model(), Model::Mlv52b);
    EXPECT_EQ(ReadParameterSet("cfg_alarmoff = enable\r\n").model(), Model::Krt17a);
}

} // namespace
} // namespace dm
