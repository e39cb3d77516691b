#include "core/string_table.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

TEST(StringTable, EveryIdHasBothLanguagesExceptSocketsMessage) {
    EXPECT_EQ(StringById(103), "Windows sockets initialization failed.");
    EXPECT_EQ(StringById(403), "");
    for (int id = 104; id <= 170; ++id) {
        if (id == 109)
            continue;
        EXPECT_FALSE(StringById(id).empty()) << id;
        EXPECT_FALSE(StringById(id + 300).empty()) << id + 300;
    }
    for (int id = IDS_MENU_FILE; id <= IDS_TABLE_EMPTY; ++id) {
        EXPECT_FALSE(StringById(id).empty()) << id;
        EXPECT_FALSE(StringById(id + 300).empty()) << id + 300;
    }
    for (int id = 600; id < 900; ++id) // every text of the upper block in both languages
        EXPECT_EQ(StringById(id).empty(), StringById(id + 300).empty()) << id;
    EXPECT_EQ(StringById(109), "");
    EXPECT_EQ(StringById(171), "");
    EXPECT_EQ(Tr(IDS_ASK_OVERWRITE, 0), "File already exists. Overwrite?");
}

TEST(StringTable, TextsThatOtherCodeComparesAgainst) {
    EXPECT_EQ(Tr(IDS_SIGNAL_FIXED_SEND, 0), Tr(IDS_SIGNAL_FIXED, 0));
    EXPECT_EQ(Tr(IDS_SIGNAL_PERCENT_SEND, 300), Tr(IDS_SIGNAL_PERCENT, 300));
    EXPECT_EQ(Tr(IDS_FILE_NOT_FOUND, 300), "Не найден файл ");
    EXPECT_EQ(Tr(IDS_CAPTION, 0) + Tr(IDS_MODEL_KRT, 0), "Dosimeter manager: KRT-17A");
    EXPECT_EQ(Tr(IDS_CAPTION, 300) + Tr(IDS_MODEL_MLV, 300), "Панель управления дозиметром МЛВ-52Б");
    EXPECT_EQ(Tr(IDS_ENABLE, 300), "включить");
    EXPECT_EQ(Tr(IDS_WARN_HISTORY_TIME, 0),
              "Warning!\n Changing history interval will erase existing dose history from "
              "dosimeter. \n Are you sure you want to continue?");
}

TEST(StringTable, FillInReplacesEachMarkOnceAndLeavesTheRest) {
    // A value is not scanned again; a mark without a value, or a lone %, stays.
    EXPECT_EQ(FillIn("%2 %1 %3 100%", {"%2", "x"}), "x %2 %3 100%");
}

TEST(StringTable, AboutTextNamesVersion) {
    EXPECT_NE(Tr(IDS_ABOUT, 0).find("Ver 1.0"), std::string::npos);
    EXPECT_NE(Tr(IDS_ABOUT, 300).find("Версия 1.0"), std::string::npos);
}

} // namespace
} // namespace dm
