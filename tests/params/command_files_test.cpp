#include "params/command_files.h"

#include "core/cp1251.h"
#include "params/edit_rules.h"
#include "params_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace dm {
namespace {

using test::Parse;
using test::Reply;
using test::RowOf;

std::string Golden(const std::string& name) {
    return test::DataFile("golden/commands/" + name);
}

// Edits the value cell of the row with that key as a user would.
void Edit(test::Table& t, const std::string& key, const std::string& text) {
    test::ScriptedUser user;
    const int row = RowOf(t, key);
    ASSERT_NE(row, -1) << key;
    ASSERT_FALSE(t.shown(row).value.readOnly) << key;
    ASSERT_TRUE(t.begin(row, RowCell::Value, user));
    t.end(row, RowCell::Value, text);
}

void Touch(test::Table& t, const std::string& key) {
    Edit(t, key, test::ValueOf(t, key));
}

ExchangeStart Send(const test::Table& t) {
    return ComposeSendChanges(t.set, t.rows, t.set.model(), t.language);
}

ExchangeStart History(const test::Table& t) {
    return ComposeGetDoseHistory(t.set, t.rows);
}

void EditLast(test::Table& t, RowCell cell, const std::string& text) {
    test::ScriptedUser user;
    ASSERT_TRUE(t.begin(t.last(), cell, user));
    t.end(t.last(), cell, text);
}

TEST(FixedCommandFiles, MatchTheGoldenBytes) {
    EXPECT_EQ(GetParametersCommand(0), Golden("get-parameters.txt"));
    EXPECT_EQ(GetParametersCommand(0).size(), 23u);
    EXPECT_EQ(GetParametersCommand(6), Golden("get-parameters-unlocked.txt"));
    EXPECT_EQ(GetParametersCommand(6).rfind("\r\n#\r\npassword = \"mervatun\"\r\n", 0), 0u);
    EXPECT_EQ(EraseTotalDoseCommand(), Golden("erase.txt"));
    EXPECT_EQ(GetArchiveCommand(), Golden("get-archive.txt"));

    const ExchangeStart get = ComposeGetParameters(1);
    EXPECT_TRUE(get.started);
    EXPECT_EQ(get.files, std::vector<std::string>{GetParametersCommand(1)});
    EXPECT_EQ(get.tickPreset, 0);
    EXPECT_EQ(get.progressSteps, 8);
}

TEST(EraseTotalDose, OnlyAfterYes) {
    test::ScriptedUser user;
    user.answer = false;
    EXPECT_FALSE(ComposeEraseTotalDose(Language::English, user).started);
    EXPECT_EQ(user.questions.at(0), "Are you sure you want to erase total dose?");
    user.answer = true;
    const ExchangeStart erase = ComposeEraseTotalDose(Language::English, user);
    EXPECT_TRUE(erase.started);
    EXPECT_EQ(erase.files, std::vector<std::string>{EraseTotalDoseCommand()});
    EXPECT_EQ(erase.tickPreset, -4);
    EXPECT_EQ(erase.progressSteps, 0);
    EXPECT_EQ(erase.request, ExchangeRequest::EraseTotalDose);
}

TEST(GetDoseHistory, DepthsChecksAndProgress) {
    auto t = Parse(Reply("params-krt17a.txt"));
    ExchangeStart start = History(t);
    EXPECT_TRUE(start.started);
    EXPECT_EQ(start.files, std::vector<std::string>{"get_archive\r\n"});
    EXPECT_EQ(start.tickPreset, -30);
    EXPECT_TRUE(start.resetHistoryView);
    EXPECT_EQ(start.progressSteps, ((1547 + 3 * 12) * 35) / 1547 + 4);

    start = History(Parse("history_depth_gma = 5\r\nhistory_depth_neu = 0\r\n"));
    EXPECT_FALSE(start.started);
    EXPECT_TRUE(start.noHistoryRecords);

    // Gamma 1547, no neutron row: 35 + 4 steps.
    auto mlv = Parse("history_depth_gma = 1547\r\n");
    EXPECT_EQ(History(mlv).progressSteps, 39);
    // A negative depth never gives a progress of no steps.
    mlv = Parse("history_depth_gma = -99999\r\n");
    EXPECT_EQ(History(mlv).progressSteps, 1);
    // Without a parameter row nothing happens.
    EXPECT_FALSE(History(Parse("x = 1\r\n")).started);
}

TEST(SendChanges, UntouchedTableStillSendsTheSwitchesAndSignal) {
    const auto t = Parse(Reply("params-krt17a.txt"));
    const ExchangeStart start = Send(t);
    EXPECT_TRUE(start.started);
    EXPECT_EQ(start.files, std::vector<std::string>{Golden("send-changes-krt17a-untouched.txt")});
    EXPECT_EQ(start.tickPreset, 0);
    EXPECT_EQ(start.progressSteps, 8);
    EXPECT_EQ(start.request, ExchangeRequest::Changes);
}

TEST(SendChanges, ElevenLinesPerFileWithTheHistoryLines) {
    auto t = Parse(Reply("params-krt17a.txt"), Language::English, 7);
    Touch(t, "rate_threshold");
    Edit(t, "dose_threshold", "0.05");
    Edit(t, "history_time", "120");
    for (const char* key : {"userinfo", "g_ks_large", "g_ks_small", "n_ks", "csWeigth"})
        Touch(t, key);
    Edit(t, "wtx[01]", "1.25");
    Touch(t, "wtx[10]");
    Edit(t, "cfg_final_sound", "disable");
    EditLast(t, RowCell::Name, "Beep when dose value reaches percent of dose threshold (%)");
    EditLast(t, RowCell::Value, "12.5");
    // A read-only value is never sent, even when marked modified.
    t.set.setModified("serial_number", true);

    const ExchangeStart start = Send(t);
    ASSERT_EQ(start.files.size(), 2u);
    EXPECT_EQ(start.files[0], Golden("send-changes-krt17a-batch-1.txt"));
    EXPECT_EQ(start.files[1], Golden("send-changes-krt17a-batch-2.txt"));
}

TEST(SendChanges, RussianSwitchTextsAndPercentLimit) {
    auto t = Parse(Reply("params-krt17a-percent.txt"), Language::Russian);
    Edit(t, "cfg_final_sound", "включить");
    Edit(t, "cfg_alarmoff", "отключить");
    EditLast(t, RowCell::Value, "12,5");
    const ExchangeStart start = Send(t);
    EXPECT_EQ(start.files, std::vector<std::string>{Golden("send-changes-krt17a-percent-ru.txt")});
}

TEST(SendChanges, Mlv52bHistoryIntervalAndQuotedOwner) {
    auto t = Parse(Reply("params-mlv52b.txt"), Language::Russian);
    Edit(t, "history_time", "15");
    Touch(t, "userinfo");
    EditLast(t, RowCell::Value, "0.002");
    const ExchangeStart start = Send(t);
    EXPECT_EQ(start.files, std::vector<std::string>{Golden("send-changes-mlv52b-ru.txt")});
    EXPECT_NE(Cp1251ToUtf8(start.files[0]).find("userinfo = \"Петров П. П.\"\r\n"),
              std::string::npos);
}

TEST(SendChanges, ExactlyElevenAndNoParameterRow) {
    // Eleven modified rows fill a file of their own; the last one holds no parameter.
    std::string reply;
    std::string catalogue = "<MLV52B-en>\r\n";
    for (int i = 0; i < 11; ++i) {
        reply += "k" + std::to_string(i) + " = " + std::to_string(i) + "\r\n";
        catalogue += "k" + std::to_string(i) + "#n@rw$defaultcolor\r\n";
    }
    catalogue += "</MLV52B-en>\r\n";
    ParameterSet set = ReadParameterSet(reply);
    const auto rows = ParameterRows(set, catalogue, Language::English, 0);
    for (const ParameterRow& row : rows)
        set.setModified(row.key, true);
    ExchangeStart start = ComposeSendChanges(set, rows, Model::Mlv52b, Language::English);
    ASSERT_EQ(start.files.size(), 2u);
    EXPECT_EQ(start.files[0].substr(0, 11), "k0 = 0\r\nk1 ");
    EXPECT_EQ(start.files[0].substr(start.files[0].size() - 10), "k10 = 10\r\n");
    EXPECT_EQ(std::count(start.files[0].begin(), start.files[0].end(), '\n'), 11);
    EXPECT_EQ(start.files[1], "cfg_type_of_signal = fixed\r\nlimit_fixed = \r\n\r\nget_parameters=255\r\n#\r\n");

    start = Send(Parse(""));
    EXPECT_TRUE(start.started);
    EXPECT_TRUE(start.files.empty());
    EXPECT_EQ(start.progressSteps, 0);
}

} // namespace
} // namespace dm
