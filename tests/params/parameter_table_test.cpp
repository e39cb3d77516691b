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
using test::ValueOf;

const Rgb kReadOnlyGrey{236, 233, 216};

TEST(ParameterTableFill, EmptyReplyGivesNoRowsAndLeavesTheState) {
    test::Table t;
    t.state.caption = "previous";
    t.state.historyInterval = 7;
    t.access = 7;
    t.fill(test::Catalogue());
    EXPECT_TRUE(t.rows.empty());
    EXPECT_EQ(t.state.caption, "previous");
    EXPECT_EQ(t.state.historyInterval, 7);
    const TableHeadings h = ParameterTableHeadings(Language::English);
    EXPECT_EQ(h.name, "Parameter name");
    EXPECT_EQ(h.key, "Command");
    EXPECT_EQ(h.value, "Parameter value");
}

TEST(ParameterTableParse, ModelAndCaption) {
    const auto krt = Parse(Reply("params-krt17a.txt"));
    EXPECT_EQ(krt.state.model, Model::Krt17a);
    EXPECT_EQ(krt.state.caption, "Dosimeter manager: KRT-17A");
    EXPECT_EQ(krt.shown(1).name.text, "Gamma dose"); // the KRT-17A section's name

    const auto mlv = Parse(Reply("params-mlv52b.txt"));
    EXPECT_EQ(mlv.state.model, Model::Mlv52b);
    EXPECT_EQ(mlv.state.caption, "Dosimeter manager: MLV-52B");
    EXPECT_EQ(mlv.shown(1).name.text, "Dose");

    const auto ru = Parse(Reply("params-krt17a.txt"), Language::Russian);
    EXPECT_EQ(ru.state.caption, "Панель управления дозиметром КРТ-17А");
    EXPECT_EQ(ParameterTableHeadings(Language::Russian).name, "Имя параметра");
    EXPECT_EQ(ru.shown(0).name.text, "Заводской номер");
}

TEST(ParameterTableParse, ValuesAreFormattedAndCleaned) {
    const auto t = Parse(Reply("params-krt17a.txt"));
    EXPECT_EQ(ValueOf(t, "dose_val"), "1.5 mSv");
    EXPECT_EQ(ValueOf(t, "total_val"), "200.0 Sv");
    EXPECT_EQ(ValueOf(t, "peak_rate"), "1.2 mkSv/h");
    EXPECT_EQ(ValueOf(t, "dose_time"), "01:02:05");
    EXPECT_EQ(ValueOf(t, "total_time"), "25:01:01");    // 90061.7 s, truncated
    EXPECT_EQ(ValueOf(t, "rate_threshold"), "1.0E-05"); // not a dose key: as sent
    // Quotes go, the leading blank goes, the trailing blanks stay.
    EXPECT_EQ(ValueOf(t, "userinfo"), "Иванов И. И.  ");
    EXPECT_EQ(t.state.historyInterval, 60);
    EXPECT_EQ(t.state.historyDepth, 1547);
}

TEST(ParameterTableParse, ValuesBelongToTheirOwnKeyOnly) {
    const auto t = Parse(Reply("params-mlv52b.txt"));
    // "rate_threshold_max" comes first, but it is another parameter: sending its value
    // back as "rate_threshold" would change the dosimeter's alarm threshold.
    EXPECT_EQ(ValueOf(t, "rate_threshold"), "1.0E-05");
    // The last line counts without its line end.
    EXPECT_EQ(ValueOf(t, "firmware_version"), "2.1");
    EXPECT_EQ(ValueOf(t, "serial_number"), "52-0042");
    EXPECT_EQ(ValueOf(t, "history_time"), "30   ");
    EXPECT_EQ(t.state.historyInterval, 30);
}

TEST(ParameterTableParse, EdgesOfTheValueLookup) {
    // A blank dose value is still a dose (0).
    auto t = Parse("dose_neutron = \r\ndose_val = 3");
    EXPECT_EQ(ValueOf(t, "dose_neutron"), "0");
    EXPECT_EQ(ValueOf(t, "dose_val"), "3.0 Sv");
    // A key without its own "=" has no value; the next line's does not become its.
    t = Parse("n_ks\r\nserial_number\r\nx = 5\r\n");
    EXPECT_EQ(RowOf(t, "serial_number"), -1);
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
    t.fill(catalogue);
    EXPECT_EQ(ValueOf(t, "battery"), "85");
    EXPECT_EQ(ValueOf(t, "rate_threshold"), "2"); // present as itself: its own value
    EXPECT_EQ(ValueOf(t, "vibr"), "1");
    EXPECT_EQ(RowOf(t, "g_ks"), -1); // a locked value stays hidden under any name
    EXPECT_EQ(RowOf(t, "absent"), -1);
    EXPECT_NE(Cp1251ToUtf8(ParameterTableFileBytes(t.set, t.rows, t.language)).find("Батарея = 85\r\n"),
              std::string::npos);

    // Edited, the row's own key goes out; the Russian switch words reach the dosimeter in
    // its own language whatever the row's kind.
    test::ScriptedUser user;
    const int vibr = RowOf(t, "vibr");
    ASSERT_TRUE(t.begin(vibr, RowCell::Value, user));
    EXPECT_TRUE(t.end(vibr, RowCell::Value, "включить"));
    EXPECT_EQ(ValueOf(t, "vibr"), "включить");
    const std::string file = Cp1251ToUtf8(ComposeSendChanges(t.set, t.rows, Model::Mlv52b, Language::Russian).files.at(0));
    EXPECT_EQ(file.rfind("vibr = enable\r\n", 0), 0u) << file;
    EXPECT_EQ(ChangedValues(t.set, t.rows, Language::Russian).at(0), std::make_pair(std::string("vibr"), std::string("enable")));
}

TEST(ParameterTableParse, KeptValuesSurviveAReplyWithoutThem) {
    test::Table t;
    t.state.historyInterval = 15;
    t.state.historyDepth = 3;
    t.set = ReadParameterSet("dose_neutron = 1\r\n");
    t.fill(test::Catalogue());
    EXPECT_EQ(t.state.historyInterval, 15);
    EXPECT_EQ(t.state.historyDepth, 3);
}

TEST(ParameterTableParse, CatalogueRowsFlagsAndColours) {
    const auto t = Parse(Reply("params-krt17a.txt"));
    const RowPresentation serial = t.shown(RowOf(t, "serial_number"));
    EXPECT_TRUE(serial.name.readOnly);
    EXPECT_TRUE(serial.keyReadOnly);
    EXPECT_TRUE(serial.value.readOnly);
    EXPECT_FALSE(serial.name.modified);
    EXPECT_FALSE(serial.value.modified);
    EXPECT_EQ(serial.name.background, kNameBackground);
    EXPECT_EQ(serial.value.background, kReadOnlyGrey);
    EXPECT_EQ(t.shown(RowOf(t, "dose_val")).value.background, (Rgb{214, 245, 214})); // over read-only

    const RowPresentation threshold = t.shown(RowOf(t, "dose_threshold"));
    EXPECT_FALSE(threshold.value.readOnly);
    EXPECT_FALSE(threshold.value.modified);
    EXPECT_EQ(threshold.value.background, (Rgb{0, 0, 255}));
    EXPECT_EQ(t.shown(RowOf(t, "rate_threshold")).value.background, kValueBackground);
    EXPECT_EQ(RowOf(t, "battery_level"), -1); // not in the reply
}

TEST(ParameterTableParse, LimitRowOfTheMlv52b) {
    const auto t = Parse(Reply("params-mlv52b.txt"));
    const RowPresentation last = t.shown(t.last());
    EXPECT_EQ(last.name.text, "Beep when dose value reaches ... (Sv)");
    EXPECT_EQ(last.key, "");
    EXPECT_EQ(last.value.text, "0.0005");
    EXPECT_TRUE(last.name.readOnly);
    EXPECT_TRUE(last.keyReadOnly);
    EXPECT_FALSE(last.value.readOnly);
    EXPECT_TRUE(last.value.modified);
    EXPECT_EQ(last.name.background, kNameBackground);

    // No "limit_fixed" in the reply: the row is still there, with an empty value.
    const auto bare = Parse("serial_number = 1\r\n");
    EXPECT_EQ(bare.rows.size(), 2u);
    EXPECT_EQ(bare.shown(1).value.text, "");
}

TEST(ParameterTableParse, SwitchAndSignalRowsOfTheKrt17a) {
    const auto t = Parse(Reply("params-krt17a.txt"), Language::Russian);
    const RowPresentation finalSound = t.shown(t.last() - 3);
    EXPECT_EQ(finalSound.name.text, "Звуковой сигнал при выключении");
    EXPECT_EQ(finalSound.key, "cfg_final_sound");
    EXPECT_EQ(finalSound.value.text, "включить");
    EXPECT_EQ(t.shown(t.last() - 2).value.text, "отключить");
    EXPECT_TRUE(finalSound.value.list);
    EXPECT_EQ(finalSound.value.options, (std::vector<std::string>{"включить", "отключить"}));
    EXPECT_FALSE(finalSound.name.readOnly);
    EXPECT_FALSE(finalSound.keyReadOnly);
    EXPECT_TRUE(finalSound.value.modified);
    EXPECT_EQ(finalSound.name.background, kNameBackground);

    const RowPresentation last = t.shown(t.last());
    EXPECT_TRUE(last.name.list);
    EXPECT_EQ(last.name.text, "Сигнал по достижении заданного значения ИЭД (Зв)");
    EXPECT_EQ(last.key, "");
    EXPECT_EQ(last.value.text, "0.001");
    EXPECT_TRUE(last.name.modified);
    EXPECT_TRUE(last.value.modified);
    EXPECT_EQ(last.name.background, kValueBackground);
}

TEST(ParameterTableParse, PercentSignalAndMissingSwitch) {
    const auto t = Parse(Reply("params-krt17a-percent.txt"));
    EXPECT_EQ(t.shown(t.last()).name.text, "Beep when dose value reaches percent of dose threshold (%)");
    EXPECT_EQ(t.shown(t.last()).value.text, "12.5");
    // No "cfg_final_sound" in the reply: the row stays, its value empty and untouched.
    const int finalSound = RowOf(t, "cfg_final_sound");
    ASSERT_EQ(finalSound, t.last() - 3);
    EXPECT_EQ(t.shown(finalSound).value.text, "");
    EXPECT_FALSE(t.shown(finalSound).value.modified);
    // Dose values of 0 are shown, so their rows stay.
    EXPECT_EQ(ValueOf(t, "dose_val"), "0");
    EXPECT_EQ(ValueOf(t, "dose_time"), "00:00:00");

    const auto none = Parse("dose_neutron = 1\r\n");
    EXPECT_EQ(none.shown(none.last()).name.text, "");
    EXPECT_EQ(none.shown(none.last()).value.text, "");
}

TEST(ParameterTableParse, ProtectedRowsFollowTheMask) {
    const std::vector<std::string> keys = {"g_ks_large", "g_ks_small", "n_ks",
                                           "csWeigth",   "wtx[01]",    "wtx[10]"};
    const std::string reply = Reply("params-krt17a.txt");
    const auto locked = Parse(reply, Language::English, 0);
    const auto open = Parse(reply, Language::English, 7);
    const auto csOnly = Parse(reply, Language::English, 2);
    for (const auto& key : keys) {
        EXPECT_EQ(RowOf(locked, key), -1) << key;
        EXPECT_NE(RowOf(open, key), -1) << key;
        EXPECT_EQ(RowOf(csOnly, key) != -1, key == "csWeigth") << key;
    }
    EXPECT_EQ(open.rows.size(), locked.rows.size() + 6);
}

TEST(ParameterTableSave, NameEqualsValueInWindows1251) {
    const auto t = Parse(Reply("params-mlv52b.txt"), Language::Russian);
    const std::string bytes = ParameterTableFileBytes(t.set, t.rows, t.language);
    const std::string text = Cp1251ToUtf8(bytes);
    EXPECT_EQ(text.substr(0, text.find('\n') + 1), "Заводской номер = 52-0042\r\n");
    EXPECT_NE(text.find("Владелец = Петров П. П.\r\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    const auto empty = Parse("");
    EXPECT_EQ(ParameterTableFileBytes(empty.set, empty.rows, empty.language), "");
}

} // namespace
} // namespace dm
