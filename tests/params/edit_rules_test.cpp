#include "params/edit_rules.h"

#include "params_test_support.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

using test::Parse;
using test::Reply;
using test::RowOf;

TEST(EditRules, OpeningAndClosingUnchangedStillMarksTheCell) {
    auto t = Parse(Reply("params-krt17a.txt"));
    test::ScriptedUser user;
    const int row = RowOf(t, "dose_threshold");
    ASSERT_FALSE(t.shown(row).value.modified);
    EXPECT_TRUE(t.begin(row, RowCell::Value, user));
    EXPECT_FALSE(t.end(row, RowCell::Value, t.shown(row).value.text));
    EXPECT_TRUE(t.shown(row).value.modified);
    EXPECT_TRUE(t.set.isModified("dose_threshold"));
    EXPECT_EQ(t.shown(row).value.text, "0.02");
    EXPECT_TRUE(user.questions.empty());
}

TEST(EditRules, EndEditWritesOnlyAChangeAndOnlyListedOptions) {
    auto t = Parse(Reply("params-krt17a.txt"));
    const int row = RowOf(t, "cfg_alarmoff");
    EXPECT_FALSE(t.end(row, RowCell::Value, "disable")); // unchanged: not written
    EXPECT_FALSE(t.set.isModified("cfg_alarmoff"));
    EXPECT_FALSE(t.end(row, RowCell::Value, "maybe")); // not an option of the list
    EXPECT_EQ(t.shown(row).value.text, "disable");
    EXPECT_TRUE(t.end(row, RowCell::Value, "enable"));
    EXPECT_EQ(t.shown(row).value.text, "enable");
    EXPECT_TRUE(t.set.isModified("cfg_alarmoff"));
    EXPECT_EQ(t.set.value("cfg_alarmoff"), "enable");
    EXPECT_EQ(t.set.raw("cfg_alarmoff"), "disable");
}

TEST(EditRules, HistoryIntervalNoPutsEverythingBack) {
    auto t = Parse(Reply("params-krt17a.txt"), Language::Russian);
    test::ScriptedUser user;
    user.answer = false;
    const int row = RowOf(t, "history_time");
    EXPECT_FALSE(t.begin(row, RowCell::Value, user));
    ASSERT_EQ(user.questions.size(), 1u);
    EXPECT_EQ(user.questions[0].rfind("Внимание!\nИзменение", 0), 0u); // no line starts with a blank
    EXPECT_EQ(user.noDefault, user.questions); // erasing the history: Enter answers No
    EXPECT_EQ(t.shown(row).value.text, "60");
    EXPECT_FALSE(t.shown(row).value.modified);
    EXPECT_FALSE(t.set.isModified("history_time"));
}

TEST(EditRules, HistoryIntervalYesLeavesTheFlagToTheChange) {
    auto t = Parse(Reply("params-krt17a.txt"));
    test::ScriptedUser user;
    const int row = RowOf(t, "history_time");
    EXPECT_TRUE(t.begin(row, RowCell::Value, user));
    EXPECT_EQ(user.questions.at(0).rfind("Warning!", 0), 0u);
    EXPECT_FALSE(t.end(row, RowCell::Value, "60"));
    EXPECT_FALSE(t.shown(row).value.modified); // unchanged: not sent

    EXPECT_TRUE(t.begin(row, RowCell::Value, user));
    EXPECT_TRUE(t.end(row, RowCell::Value, "120"));
    EXPECT_TRUE(t.shown(row).value.modified);

    // A change made before is not lost by a later edit that is refused or unchanged.
    user.answer = false;
    EXPECT_FALSE(t.begin(row, RowCell::Value, user));
    EXPECT_EQ(t.shown(row).value.text, "120");
    EXPECT_TRUE(t.shown(row).value.modified);
    user.answer = true;
    EXPECT_TRUE(t.begin(row, RowCell::Value, user));
    EXPECT_FALSE(t.end(row, RowCell::Value, "120"));
    EXPECT_TRUE(t.shown(row).value.modified);
}

TEST(EditRules, DropDownChoiceAndSwitchNames) {
    auto t = Parse(Reply("params-krt17a.txt"));
    test::ScriptedUser user;
    const int last = t.last();
    EXPECT_TRUE(t.begin(last, RowCell::Name, user));
    EXPECT_TRUE(t.end(last, RowCell::Name, t.shown(last).name.options.at(1)));
    EXPECT_EQ(t.set.value("cfg_type_of_signal"), "percent");
    EXPECT_EQ(t.shown(last).name.text, "Beep when dose value reaches percent of dose threshold (%)");

    // The name of a switch row chooses nothing: an edit of it is not taken, and the row
    // keeps its key and name.
    const int row = RowOf(t, "cfg_final_sound");
    const std::string name = t.shown(row).name.text;
    EXPECT_TRUE(t.begin(row, RowCell::Name, user));
    EXPECT_FALSE(t.end(row, RowCell::Name, "My name"));
    EXPECT_EQ(t.shown(row).key, "cfg_final_sound");
    EXPECT_EQ(t.shown(row).name.text, name);
    EXPECT_TRUE(user.questions.empty());
}

} // namespace
} // namespace dm
