#include "core/string_table.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <sstream>
#include <string>

namespace dm {
namespace {

TEST(StringTable, EveryIdHasBothLanguagesExceptSocketsMessage) {
    constexpr Language en = Language::English, ru = Language::Russian;
    EXPECT_EQ(Tr(103, en), "Windows sockets initialization failed.");
    EXPECT_EQ(Tr(103, ru), "");
    for (int id = 104; id <= 170; ++id) {
        if (id == 109)
            continue;
        EXPECT_FALSE(Tr(id, en).empty()) << id;
        EXPECT_FALSE(Tr(id, ru).empty()) << id;
    }
    for (int id = IDS_MENU_FILE; id <= IDS_TABLE_EMPTY; ++id) {
        EXPECT_FALSE(Tr(id, en).empty()) << id;
        EXPECT_FALSE(Tr(id, ru).empty()) << id;
    }
    for (int id = 600; id < 1000; ++id) // every text of the upper blocks in both languages
        EXPECT_EQ(Tr(id, en).empty(), Tr(id, ru).empty()) << id;
    EXPECT_EQ(Tr(109, en), "");
    EXPECT_EQ(Tr(171, ru), "");
    // Ids outside the table, below it and past its end, give an empty text.
    EXPECT_EQ(Tr(-1, en), "");
    EXPECT_EQ(Tr(100000, ru), "");
    EXPECT_EQ(Tr(IDS_ASK_OVERWRITE, en), "File already exists. Overwrite?");
}

TEST(StringTable, TextsThatOtherCodeComparesAgainst) {
    EXPECT_EQ(Tr(IDS_SIGNAL_FIXED_SEND, Language::English), Tr(IDS_SIGNAL_FIXED, Language::English));
    EXPECT_EQ(Tr(IDS_SIGNAL_PERCENT_SEND, Language::Russian), Tr(IDS_SIGNAL_PERCENT, Language::Russian));
    EXPECT_EQ(Tr(IDS_FILE_NOT_FOUND, Language::Russian), "Не найден файл ");
    EXPECT_EQ(Tr(IDS_CAPTION, Language::English) + Tr(IDS_MODEL_KRT, Language::English), "Dosimeter manager: KRT-17A");
    EXPECT_EQ(Tr(IDS_CAPTION, Language::Russian) + Tr(IDS_MODEL_MLV, Language::Russian), "Панель управления дозиметром МЛВ-52Б");
    EXPECT_EQ(Tr(IDS_ENABLE, Language::Russian), "включить");
    EXPECT_EQ(Tr(IDS_WARN_HISTORY_TIME, Language::English),
              "Warning!\nChanging history interval will erase existing dose history from "
              "dosimeter.\nAre you sure you want to continue?");
    EXPECT_EQ(Tr(IDS_ASK_ERASE, Language::Russian), "Вы уверены, что хотите обнулить значение общей дозы?");
    EXPECT_EQ(ShownModelName("KRT-17A", Language::Russian) + ShownModelName("MLV-52B", Language::Russian), "КРТ-17АМЛВ-52Б");
    EXPECT_EQ(ShownModelName("MLV-52B", Language::English), "MLV-52B");
    EXPECT_EQ(ShownModelName("XYZ-1", Language::Russian), "XYZ-1");
}

// Every text walked in both languages: each has its pair, the same %1.. marks, no line
// that starts with a blank or a doubled blank, and the Russian one writes Russian (Latin
// only for names such as PNG, IrDA, an address or the command that names the site).
TEST(StringTable, EveryTextHasARussianTwinThatReadsAsRussian) {
    const std::set<std::string> latinNames = {"PNG", "CSV", "PDF", "UTC", "ID", "IrDA", "irda", "SIR", "pcap",
                                              "dosimeter", "cli", "records", "site", "name"};
    auto marks = [](const std::string& text) {
        std::set<std::string> found; // "%2" twice in "from %1 to %2, not %2"
        for (std::size_t i = 0; i + 1 < text.size(); ++i)
            if (text[i] == '%' && text[i + 1] >= '1' && text[i + 1] <= '9')
                found.insert(text.substr(i, 2));
        return found;
    };
    int pairs = 0;
    for (int id = 0; id < 5000; ++id) {
        const std::string& en = Tr(id, Language::English);
        const std::string& ru = Tr(id, Language::Russian);
        if (en.empty() || id == IDS_SOCKETS_FAILED) {
            EXPECT_TRUE(ru.empty()) << id; // no Russian text without its English one
            continue;
        }
        EXPECT_TRUE((id >= 100 && id < 300) || (id >= 600 && id < 1000)) << id;
        ASSERT_FALSE(ru.empty()) << id;
        ++pairs;
        EXPECT_EQ(marks(en), marks(ru)) << id;
        for (const std::string* text : {&en, &ru}) {
            EXPECT_EQ(text->find("\n "), std::string::npos) << *text;
            EXPECT_EQ(text->find("  "), std::string::npos) << *text;
            EXPECT_NE(text->front(), ' ') << *text;
        }
        std::istringstream tokens(ru);
        for (std::string token; tokens >> token;) {
            // A file pattern (*.png) or an address (support@...) is a name too.
            if (token.find('@') != std::string::npos || token.find("*.") != std::string::npos)
                continue;
            std::string word;
            for (const char c : token + ' ') {
                if (std::isalpha(static_cast<unsigned char>(c))) {
                    word += c;
                    continue;
                }
                EXPECT_TRUE(word.empty() || latinNames.count(word)) << id << ": " << word << " in " << ru;
                word.clear();
            }
        }
    }
    EXPECT_GT(pairs, 200); // the walk reached the whole table
}

TEST(StringTable, FillInReplacesEachMarkOnceAndLeavesTheRest) {
    // A value is not scanned again; a mark without a value, or a lone %, stays.
    EXPECT_EQ(FillIn("%2 %1 %3 100%", {"%2", "x"}), "x %2 %3 100%");
}

TEST(StringTable, AboutTextNamesVersion) {
    EXPECT_NE(Tr(IDS_ABOUT, Language::English).find("Ver 1.0"), std::string::npos);
    EXPECT_NE(Tr(IDS_ABOUT, Language::Russian).find("Версия 1.0"), std::string::npos);
}

} // namespace
} // namespace dm
