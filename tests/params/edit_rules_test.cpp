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
    const int row = RowOf(t.grid, "dose_threshold");
    ASSERT_FALSE(t.grid.isModified(row, 2));
    EXPECT_TRUE(BeginParameterEdit(t.grid, t.set, row, 2, Language::English, user));
    EndParameterEdit(t.grid, t.set, row, 2, t.grid.text(row, 2), Language::English);
    EXPECT_TRUE(t.grid.isModified(row, 2));
    EXPECT_TRUE(t.set.isModified("dose_threshold"));
    EXPECT_EQ(t.grid.text(row, 2), "0.02");
    EXPECT_TRUE(user.questions.empty());
}

TEST(EditRules, EndEditWritesOnlyAChangeAndOnlyListedOptions) {
    auto t = Parse(Reply("params-krt17a.txt"));
    const int row = RowOf(t.grid, "cfg_alarmoff");
    t.grid.setModified(false, row, 2);
    EndParameterEdit(t.grid, t.set, row, 2, "disable", Language::English); // unchanged: not written
    EXPECT_FALSE(t.grid.isModified(row, 2));
    EndParameterEdit(t.grid, t.set, row, 2, "maybe", Language::English); // not an option of the list
    EXPECT_EQ(t.grid.text(row, 2), "disable");
    EndParameterEdit(t.grid, t.set, row, 2, "enable", Language::English);
    EXPECT_EQ(t.grid.text(row, 2), "enable");
    EXPECT_TRUE(t.grid.isModified(row, 2));
    EXPECT_EQ(t.set.value("cfg_alarmoff"), "enable");
    EXPECT_EQ(t.set.raw("cfg_alarmoff"), "disable");
    EndParameterEdit(t.grid, t.set, 99, 2, "x", Language::English); // outside the grid: nothing
}

TEST(EditRules, HistoryIntervalNoPutsEverythingBack) {
    auto t = Parse(Reply("params-krt17a.txt"), Language::Russian);
    test::ScriptedUser user;
    user.answer = false;
    const int row = RowOf(t.grid, "history_time");
    EXPECT_FALSE(BeginParameterEdit(t.grid, t.set, row, 2, Language::Russian, user));
    ASSERT_EQ(user.questions.size(), 1u);
    EXPECT_EQ(user.questions[0].rfind("Внимание!\nИзменение", 0), 0u); // no line starts with a blank
    EXPECT_EQ(user.noDefault, user.questions); // erasing the history: Enter answers No
    EXPECT_EQ(t.grid.text(row, 2), "60");
    EXPECT_FALSE(t.grid.isModified(row, 2));
    EXPECT_FALSE(t.set.isModified("history_time"));
}

TEST(EditRules, HistoryIntervalYesLeavesTheFlagToTheChange) {
    auto t = Parse(Reply("params-krt17a.txt"));
    test::ScriptedUser user;
    const int row = RowOf(t.grid, "history_time");
    EXPECT_TRUE(BeginParameterEdit(t.grid, t.set, row, 2, Language::English, user));
    EXPECT_EQ(user.questions.at(0).rfind("Warning!", 0), 0u);
    EndParameterEdit(t.grid, t.set, row, 2, "60", Language::English);
    EXPECT_FALSE(t.grid.isModified(row, 2)); // unchanged: not sent

    EXPECT_TRUE(BeginParameterEdit(t.grid, t.set, row, 2, Language::English, user));
    EndParameterEdit(t.grid, t.set, row, 2, "120", Language::English);
    EXPECT_TRUE(t.grid.isModified(row, 2));

    // A change made before is not lost by a later edit that is refused or unchanged.
    user.answer = false;
    EXPECT_FALSE(BeginParameterEdit(t.grid, t.set, row, 2, Language::English, user));
    EXPECT_EQ(t.grid.text(row, 2), "120");
    EXPECT_TRUE(t.grid.isModified(row, 2));
    user.answer = true;
    EXPECT_TRUE(BeginParameterEdit(t.grid, t.set, row, 2, Language::English, user));
    EndParameterEdit(t.grid, t.set, row, 2, "120", Language::English);
    EXPECT_TRUE(t.grid.isModified(row, 2));
}

TEST(EditRules, DropDownChoiceAndSwitchNames) {
    auto t = Parse(Reply("params-krt17a.txt"));
    test::ScriptedUser user;
    const int last = t.grid.rowCount() - 1;
    t.grid.setModified(false, last, 0);
    EXPECT_TRUE(BeginParameterEdit(t.grid, t.set, last, 0, Language::English, user));
    EndParameterEdit(t.grid, t.set, last, 0, t.grid.options(last, 0).at(1), Language::English);
    EXPECT_TRUE(t.grid.isModified(last, 0));
    EXPECT_EQ(t.grid.text(last, 0), "Beep when dose value reaches percent of dose threshold (%)");

    // The name of a switch row can be edited; its key is untouched.
    const int row = RowOf(t.grid, "cfg_final_sound");
    EXPECT_TRUE(BeginParameterEdit(t.grid, t.set, row, 0, Language::English, user));
    EndParameterEdit(t.grid, t.set, row, 0, "My name", Language::English);
    EXPECT_EQ(t.grid.text(row, 1), "cfg_final_sound");
    EXPECT_TRUE(user.questions.empty());
}

} // namespace
} // namespace dm
