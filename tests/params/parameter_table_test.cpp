#include "grid/parameter_grid.h"

#include "core/cp1251.h"
#include "params/change_check.h"
#include "params/command_files.h"
#include "params_test_support.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

using test::Parse;
using test::Reply;
using test::RowOf;

const Rgb kReadOnlyGrey{236, 233, 216};

TEST(ParameterTableSetUp, EmptyReplyLeavesTheHeadingAndTheState) {
    test::Table t;
    t.state.caption = "previous";
    t.state.historyInterval = 7;
    t.grid.appendColumn("old");
    t.grid.appendRow("old row");
    FillParameterGrid(ReadParameterSet(""), test::Catalogue(), Language::English, 7, 456, t.grid, t.state);
    ASSERT_EQ(t.grid.rowCount(), 1);
    ASSERT_EQ(t.grid.colCount(), 3);
    EXPECT_EQ(t.grid.text(0, 0), "Parameter name");
    EXPECT_EQ(t.grid.text(0, 1), "Command");
    EXPECT_EQ(t.grid.text(0, 2), "Parameter value");
    EXPECT_EQ(t.grid.fixedRowCount(), 1);
    EXPECT_EQ(t.state.caption, "previous");
    EXPECT_EQ(t.state.historyInterval, 7);
    // The key column stays hidden; the others fill the client width.
    EXPECT_EQ(t.grid.columnWidth(1), 0);
    EXPECT_EQ(t.grid.columnWidth(0) + t.grid.columnWidth(2), 456);
    EXPECT_FALSE(t.grid.rowResize());
    EXPECT_TRUE(t.grid.columnResize());
    EXPECT_TRUE(t.grid.isEditable());
    EXPECT_EQ(t.grid.background(0, 0), kNameBackground);
}

TEST(ParameterTableParse, ModelAndCaption) {
    const auto krt = Parse(Reply("params-krt17a.txt"));
    EXPECT_EQ(krt.state.model, Model::Krt17a);
    EXPECT_EQ(krt.state.caption, "Dosimeter manager: KRT-17A");
    EXPECT_EQ(krt.grid.text(2, 0), "Gamma dose"); // the KRT-17A section's name

    const auto mlv = Parse(Reply("params-mlv52b.txt"));
    EXPECT_EQ(mlv.state.model, Model::Mlv52b);
    EXPECT_EQ(mlv.state.caption, "Dosimeter manager: MLV-52B");
    EXPECT_EQ(mlv.grid.text(2, 0), "Dose");

    const auto ru = Parse(Reply("params-krt17a.txt"), Language::Russian);
    EXPECT_EQ(ru.state.caption, "Панель управления дозиметром КРТ-17А");
    EXPECT_EQ(ru.grid.text(0, 0), "Имя параметра");
    EXPECT_EQ(ru.grid.text(1, 0), "Заводской номер");
}

TEST(ParameterTableParse, ValuesAreFormattedAndCleaned) {
    const auto t = Parse(Reply("params-krt17a.txt"));
    const auto& g = t.grid;
    EXPECT_EQ(g.text(RowOf(g, "dose_val"), 2), "1.5 mSv");
    EXPECT_EQ(g.text(RowOf(g, "total_val"), 2), "200.0 Sv");
    EXPECT_EQ(g.text(RowOf(g, "peak_rate"), 2), "1.2 mkSv/h");
    EXPECT_EQ(g.text(RowOf(g, "dose_time"), 2), "01:02:05");
    EXPECT_EQ(g.text(RowOf(g, "total_time"), 2), "25:01:01");    // 90061.7 s, truncated
    EXPECT_EQ(g.text(RowOf(g, "rate_threshold"), 2), "1.0E-05"); // not a dose key: as sent
    // Quotes go, the leading blank goes, the trailing blanks stay.
    EXPECT_EQ(g.text(RowOf(g, "userinfo"), 2), "Иванов И. И.  ");
    EXPECT_EQ(t.state.historyInterval, 60);
    EXPECT_EQ(t.state.historyDepth, 1547);
}

TEST(ParameterTableParse, ValuesBelongToTheirOwnKeyOnly) {
    const auto t = Parse(Reply("params-mlv52b.txt"));
    const auto& g = t.grid;
    // "rate_threshold_max" comes first, but it is another parameter: sending its value
    // back as "rate_threshold" would change the dosimeter's alarm threshold.
    EXPECT_EQ(g.text(RowOf(g, "rate_threshold"), 2), "1.0E-05");
    // The last line counts without its line end.
    EXPECT_EQ(g.text(RowOf(g, "firmware_version"), 2), "2.1");
    EXPECT_EQ(g.text(RowOf(g, "serial_number"), 2), "52-0042");
    EXPECT_EQ(g.text(RowOf(g, "history_time"), 2), "30   ");
    EXPECT_EQ(t.state.historyInterval, 30);
}

TEST(ParameterTableParse, EdgesOfTheValueLookup) {
    // A blank dose value is still a dose (0).
    auto t = Parse("dose_neutron = \r\ndose_val = 3");
    EXPECT_EQ(t.grid.text(RowOf(t.grid, "dose_neutron"), 2), "0");
    EXPECT_EQ(t.grid.text(RowOf(t.grid, "dose_val"), 2), "3.0 Sv");
    // A key without its own "=" has no value; the next line's does not become its.
    t = Parse("n_ks\r\nserial_number\r\nx = 5\r\n");
    EXPECT_EQ(RowOf(t.grid, "serial_number"), -1);
    EXPECT_EQ(t.state.model, Model::Mlv52b); // "n_ks" without its own "=" is no parameter either
    EXPECT_EQ(CleanValue("  \"a b\"\r\n"), "a b");
    EXPECT_EQ(CleanValue(" \r\n"), "");
}

TEST(ParameterTableParse, CatalogueKeyInsideALongerKeyShowsSendsAndSaves) {
    // Field catalogues name some parameters by a shorter key than the reply carries.
    const std::string catalogue = "<MLV52B-ru>\r\n"
                                  "battery#Батарея@r$defaultcolor\r\n"
                                  "rate_threshold#Порог@rw$defaultcolor\r\n"
                                  "vibr#Вибрация@rw$defaultcolor\r\n"
                                  "g_ks#Чувствительность@rw$defaultcolor\r\n"
                                  "absent#Нет@r$defaultcolor\r\n"
                                  "</MLV52B-ru>\r\n";
    const std::string reply = "rate_threshold_max = 9\r\nbattery_level = 85\r\nrate_threshold = 2\r\n"
                              "vibration = 1\r\ng_ks_large = 0.5\r\n";
    test::Table t;
    t.set = ReadParameterSet(reply);
    t.language = Language::Russian;
    FillParameterGrid(t.set, catalogue, Language::Russian, 0, test::kTestClientWidth, t.grid, t.state);
    const auto& g = t.grid;
    EXPECT_EQ(g.text(RowOf(g, "battery"), 2), "85");
    EXPECT_EQ(g.text(RowOf(g, "rate_threshold"), 2), "2"); // present as itself: its own value
    EXPECT_EQ(g.text(RowOf(g, "vibr"), 2), "1");
    EXPECT_EQ(RowOf(g, "g_ks"), -1); // a locked value stays hidden under any name
    EXPECT_EQ(RowOf(g, "absent"), -1);
    EXPECT_NE(Cp1251ToUtf8(ParameterTableFileBytes(g)).find("Батарея = 85\r\n"), std::string::npos);

    // Edited, the row's own key goes out; the Russian switch words reach the dosimeter in
    // its own language whatever the row's kind.
    test::ScriptedUser user;
    const int vibr = RowOf(g, "vibr");
    ASSERT_TRUE(BeginParameterEdit(t.grid, t.set, vibr, 2, Language::Russian, user));
    EndParameterEdit(t.grid, t.set, vibr, 2, "включить", Language::Russian);
    EXPECT_EQ(t.grid.text(vibr, 2), "включить");
    const std::vector<ParameterRow> rows = ParameterRows(t.set, catalogue, Language::Russian, 0);
    const std::string file = Cp1251ToUtf8(ComposeSendChanges(t.set, rows, Model::Mlv52b, Language::Russian).files.at(0));
    EXPECT_EQ(file.rfind("vibr = enable\r\n", 0), 0u) << file;
    EXPECT_EQ(ChangedValues(t.set, rows, Language::Russian).at(0), std::make_pair(std::string("vibr"), std::string("enable")));
}

TEST(ParameterTableParse, KeptValuesSurviveAReplyWithoutThem) {
    test::Table t;
    t.state.historyInterval = 15;
    t.state.historyDepth = 3;
    FillParameterGrid(ReadParameterSet("dose_neutron = 1\r\n"), test::Catalogue(), Language::English, 0, 456, t.grid,
                      t.state);
    EXPECT_EQ(t.state.historyInterval, 15);
    EXPECT_EQ(t.state.historyDepth, 3);
}

TEST(ParameterTableParse, CatalogueRowsFlagsAndColours) {
    const auto t = Parse(Reply("params-krt17a.txt"));
    const auto& g = t.grid;
    const int serial = RowOf(g, "serial_number");
    EXPECT_TRUE(g.isReadOnly(serial, 0));
    EXPECT_TRUE(g.isReadOnly(serial, 1));
    EXPECT_TRUE(g.isReadOnly(serial, 2));
    EXPECT_FALSE(g.isModified(serial, 0));
    EXPECT_FALSE(g.isModified(serial, 2));
    EXPECT_EQ(g.background(serial, 0), kNameBackground);
    EXPECT_EQ(g.background(serial, 2), kReadOnlyGrey);
    EXPECT_EQ(g.background(RowOf(g, "dose_val"), 2), (Rgb{214, 245, 214})); // over read-only

    const int threshold = RowOf(g, "dose_threshold");
    EXPECT_FALSE(g.isReadOnly(threshold, 2));
    EXPECT_FALSE(g.isModified(threshold, 2));
    EXPECT_EQ(g.background(threshold, 2), (Rgb{0, 0, 255}));
    EXPECT_EQ(g.background(RowOf(g, "rate_threshold"), 2), kValueBackground);
    EXPECT_EQ(RowOf(g, "battery_level"), -1); // not in the reply
}

TEST(ParameterTableParse, LimitRowOfTheMlv52b) {
    const auto t = Parse(Reply("params-mlv52b.txt"));
    const auto& g = t.grid;
    const int last = g.rowCount() - 1;
    EXPECT_EQ(g.text(last, 0), "Beep when dose value reaches ... (Sv)");
    EXPECT_EQ(g.text(last, 1), "");
    EXPECT_EQ(g.text(last, 2), "0.0005");
    EXPECT_TRUE(g.isReadOnly(last, 0));
    EXPECT_TRUE(g.isReadOnly(last, 1));
    EXPECT_FALSE(g.isReadOnly(last, 2));
    EXPECT_TRUE(g.isModified(last, 2));
    EXPECT_EQ(g.background(last, 0), kNameBackground);

    // No "limit_fixed" in the reply: the row is still there, with an empty value.
    const auto bare = Parse("serial_number = 1\r\n");
    EXPECT_EQ(bare.grid.rowCount(), 3);
    EXPECT_EQ(bare.grid.text(2, 2), "");
}

TEST(ParameterTableParse, SwitchAndSignalRowsOfTheKrt17a) {
    const auto t = Parse(Reply("params-krt17a.txt"), Language::Russian);
    const auto& g = t.grid;
    const int last = g.rowCount() - 1;
    const int finalSound = last - 3;
    EXPECT_EQ(g.text(finalSound, 0), "Звуковой сигнал при выключении");
    EXPECT_EQ(g.text(finalSound, 1), "cfg_final_sound");
    EXPECT_EQ(g.text(finalSound, 2), "включить");
    EXPECT_EQ(g.text(last - 2, 2), "отключить");
    EXPECT_EQ(g.kind(finalSound, 2), CellKind::List);
    EXPECT_EQ(g.options(finalSound, 2), (std::vector<std::string>{"включить", "отключить"}));
    EXPECT_EQ(g.listStyle(finalSound, 2), kDropDownListStyle);
    EXPECT_FALSE(g.isReadOnly(finalSound, 0));
    EXPECT_FALSE(g.isReadOnly(finalSound, 1));
    EXPECT_TRUE(g.isModified(finalSound, 2));
    EXPECT_EQ(g.background(finalSound, 0), kNameBackground);

    EXPECT_EQ(g.kind(last, 0), CellKind::List);
    EXPECT_EQ(g.text(last, 0), "Сигнал по достижении заданного значения ИЭД (Зв)");
    EXPECT_EQ(g.text(last, 1), "");
    EXPECT_EQ(g.text(last, 2), "0.001");
    EXPECT_TRUE(g.isModified(last, 0));
    EXPECT_TRUE(g.isModified(last, 2));
    EXPECT_EQ(g.background(last, 0), kValueBackground);
}

TEST(ParameterTableParse, PercentSignalAndMissingSwitch) {
    const auto t = Parse(Reply("params-krt17a-percent.txt"));
    const auto& g = t.grid;
    const int last = g.rowCount() - 1;
    EXPECT_EQ(g.text(last, 0), "Beep when dose value reaches percent of dose threshold (%)");
    EXPECT_EQ(g.text(last, 2), "12.5");
    // No "cfg_final_sound" in the reply: the row stays, its value empty and untouched.
    const int finalSound = RowOf(g, "cfg_final_sound");
    ASSERT_EQ(finalSound, last - 3);
    EXPECT_EQ(g.text(finalSound, 2), "");
    EXPECT_FALSE(g.isModified(finalSound, 2));
    // Dose values of 0 are shown, so their rows stay.
    EXPECT_EQ(g.text(RowOf(g, "dose_val"), 2), "0");
    EXPECT_EQ(g.text(RowOf(g, "dose_time"), 2), "00:00:00");

    const auto none = Parse("dose_neutron = 1\r\n");
    EXPECT_EQ(none.grid.text(none.grid.rowCount() - 1, 0), "");
    EXPECT_EQ(none.grid.text(none.grid.rowCount() - 1, 2), "");
}

TEST(ParameterTableParse, ProtectedRowsFollowTheMask) {
    const std::vector<std::string> keys = {"g_ks_large", "g_ks_small", "n_ks",
                                           "csWeigth",   "wtx[01]",    "wtx[10]"};
    const std::string reply = Reply("params-krt17a.txt");
    const auto locked = Parse(reply, Language::English, 0);
    const auto open = Parse(reply, Language::English, 7);
    const auto csOnly = Parse(reply, Language::English, 2);
    for (const auto& key : keys) {
        EXPECT_EQ(RowOf(locked.grid, key), -1) << key;
        EXPECT_NE(RowOf(open.grid, key), -1) << key;
        EXPECT_EQ(RowOf(csOnly.grid, key) != -1, key == "csWeigth") << key;
    }
    EXPECT_EQ(open.grid.rowCount(), locked.grid.rowCount() + 6);
}

TEST(ParameterTableSave, NameEqualsValueInWindows1251) {
    const auto t = Parse(Reply("params-mlv52b.txt"), Language::Russian);
    const std::string bytes = ParameterTableFileBytes(t.grid);
    const std::string text = Cp1251ToUtf8(bytes);
    EXPECT_EQ(text.substr(0, text.find('\n') + 1), "Заводской номер = 52-0042\r\n");
    EXPECT_NE(text.find("Владелец = Петров П. П.\r\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_EQ(ParameterTableFileBytes(Parse("").grid), "");
}

} // namespace
} // namespace dm
