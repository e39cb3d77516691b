#include "history/table_save.h"

#include "core/reply_text.h"
#include "core/string_table.h"
#include "core/text_file.h"
#include "history/dose_archive.h"
#include "history/history_table.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace dm {
namespace {

namespace fs = std::filesystem;

std::string Bytes(const fs::path& path) { return TryReadFile(path).value_or("<missing>"); }

struct Parsed {
    DoseArchive archive;
    HistoryTable dose, neutron;
    Parsed(const std::string& reply, Language lang = Language::English)
        : archive(ParseDoseArchive(ReplyTextFromBytes(Bytes(fs::path(DM_TEST_DATA) / reply)), 1.0)),
          dose(archive, HistoryTab::Dose, lang), neutron(archive, HistoryTab::Neutron, lang) {}
    Parsed(const Parsed&) = delete;
};

std::string Golden(const std::string& name) { return Bytes(fs::path(DM_TEST_DATA) / "golden" / name); }

TEST(SavedTableBytes, MatchTheGoldenFiles) {
    const Parsed krt("archive-krt17a.txt");
    // Layout A: column 1 has no heading, so the first line is "#", TAB, CR LF.
    EXPECT_EQ(DoseTableFileBytes(krt.dose), Golden("krt17a-tab1.txt"));
    EXPECT_EQ(NeutronTableFileBytes(krt.neutron), Golden("krt17a-tab2.txt"));
    EXPECT_EQ(NeutronTableFileBytes(Parsed("archive-krt17a.txt", Language::Russian).neutron),
              Golden("krt17a-tab2-ru.txt"));
    EXPECT_EQ(DoseTableFileBytes(Parsed("archive-mlv52b.txt").dose), Golden("mlv52b-tab1.txt"));
    EXPECT_EQ(DoseTableFileBytes(Parsed("archive-mlv52b.txt", Language::Russian).dose),
              Golden("mlv52b-tab1-ru.txt"));
}

TEST(SavedTableBytes, ANeutronTableWithoutRecordsSavesNothing) {
    EXPECT_EQ(NeutronTableFileBytes(Parsed("archive-krt17a-result.txt").neutron).substr(0, 3), "# \t");
    EXPECT_EQ(NeutronTableFileBytes(HistoryTable{}), "");
    // A neutron section whose lines hold no records.
    const DoseArchive noRecords = ParseDoseArchive("h\r\r\n1.0E-06\r\r\nx\ty\r\r\n", 1.0);
    ASSERT_TRUE(noRecords.neutron().empty());
    EXPECT_EQ(NeutronTableFileBytes(HistoryTable(noRecords, HistoryTab::Neutron, Language::English)), "");
    // The dose table always has its heading line.
    EXPECT_EQ(DoseTableFileBytes(Parsed("archive-neutron-only.txt").dose), "#\t\r\n");
}

// Answers the dialogs as told and records what the user saw.
class ScriptedDialogs : public UserDialogs {
public:
    std::optional<std::string> fileName;
    bool answerYes = false;
    std::vector<std::string> questions, messages;

    void showMessage(const std::string& text) override { messages.push_back(text); }
    bool askYesNo(const std::string& text) override {
        questions.push_back(text);
        return answerYes;
    }
    std::optional<std::string> askSaveFileName() override { return fileName; }
    std::optional<std::string> askPassword() override { return std::nullopt; }
};

class SaveTableFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("dm-save-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
    ScriptedDialogs dialogs;
};

TEST_F(SaveTableFileTest, CancelDoesNothing) {
    const SaveResult r = SaveTableFile(dialogs, Language::English, "x\r\n");
    EXPECT_FALSE(r.saved);
    EXPECT_FALSE(r.skipName);
    EXPECT_TRUE(dialogs.questions.empty());
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(SaveTableFileTest, NewFileIsWrittenWithoutAQuestion) {
    dialogs.fileName = (dir_ / "Табл A.txt").string();
    const SaveResult r = SaveTableFile(dialogs, Language::English, "1\t2\r\n");
    EXPECT_TRUE(r.saved);
    EXPECT_EQ(r.skipName, "Табл A.txt");
    EXPECT_TRUE(dialogs.questions.empty());
    EXPECT_EQ(Bytes(*dialogs.fileName), "1\t2\r\n");
}

TEST_F(SaveTableFileTest, ExistingFileIsReplacedOnlyAfterYes) {
    const fs::path file = dir_ / "table.txt";
    std::ofstream(file, std::ios::binary) << "old content that is longer\r\n";
    dialogs.fileName = file.string();

    SaveResult r = SaveTableFile(dialogs, Language::Russian, "new\r\n");
    ASSERT_EQ(dialogs.questions, std::vector<std::string>{Tr(IDS_ASK_OVERWRITE, Language::Russian)});
    EXPECT_FALSE(r.saved);
    EXPECT_FALSE(r.skipName); // answered No: the name is not handed to the pickup
    EXPECT_EQ(Bytes(file), "old content that is longer\r\n");

    dialogs.answerYes = true;
    r = SaveTableFile(dialogs, Language::English, "new\r\n");
    EXPECT_TRUE(r.saved);
    EXPECT_EQ(r.skipName, "table.txt");
    EXPECT_EQ(Bytes(file), "new\r\n");

    // Nothing to write (a neutron table without records) still empties the file.
    r = SaveTableFile(dialogs, Language::English, "");
    EXPECT_TRUE(r.saved);
    EXPECT_EQ(Bytes(file), "");
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(SaveTableFileTest, FileThatCannotBeCreatedIsReportedNotAskedAbout) {
    for (const fs::path& target : {dir_ / "no such folder" / "t.txt", dir_}) {
        dialogs.messages.clear();
        dialogs.fileName = target.string();
        const SaveResult r = SaveTableFile(dialogs, Language::English, "x\r\n");
        EXPECT_FALSE(r.saved);
        EXPECT_FALSE(r.skipName);
        EXPECT_TRUE(dialogs.questions.empty()) << target;
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_NE(dialogs.messages[0].find(target.string()), std::string::npos) << dialogs.messages[0];
        EXPECT_EQ(dialogs.messages[0], r.error);
    }
    EXPECT_FALSE(fs::exists(dir_ / "no such folder"));
}

TEST_F(SaveTableFileTest, WriteFailureIsReported) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    dialogs.fileName = "/dev/full";
    dialogs.answerYes = true;
    const SaveResult r = SaveTableFile(dialogs, Language::English, std::string(100000, 'x'));
    EXPECT_FALSE(r.saved);
    EXPECT_EQ(r.skipName, "full"); // it was opened, so the pickup must leave it alone
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].rfind("Cannot write file \"/dev/full\": ", 0), 0u) << dialogs.messages[0];
}

} // namespace
} // namespace dm
