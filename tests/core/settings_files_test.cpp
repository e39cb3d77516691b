#include "core/settings_files.h"

#include "core/text_file.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include <gtest/gtest.h>

namespace dm {
namespace {

struct Recorder : MessageSink {
    std::vector<std::string> messages;
    void showMessage(const std::string& text) override { messages.push_back(text); }
};

class SettingsFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("dm-settings-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    void write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
    }
    std::string read(const std::string& name) { return TryReadFile(dir_ / name).value_or("<none>"); }
    std::filesystem::path dir_;
};

TEST(AccessMask, ScrambleRoundTrip) {
    EXPECT_EQ(ScrambleAccessMask(0), 0);
    EXPECT_EQ(ScrambleAccessMask(1), 12748);
    EXPECT_EQ(ScrambleAccessMask(7), 89236);
    for (int mask = 0; mask < 8; ++mask)
        EXPECT_EQ(UnscrambleAccessMask(ScrambleAccessMask(mask)), mask);
    // Large masks wrap in 32 bits like the original arithmetic; negative values shift
    // arithmetically and divide toward zero.
    EXPECT_EQ(UnscrambleAccessMask(-12748), -1);
    EXPECT_EQ(UnscrambleAccessMask(-1), 0);
}

TEST(AccessMask, FromText) {
    EXPECT_EQ(AccessMaskFromText("12748"), 1);
    EXPECT_EQ(AccessMaskFromText("  89236\r\n"), 7);
    EXPECT_EQ(AccessMaskFromText("garbage"), 0);
    EXPECT_EQ(AccessMaskFromText(""), 0);
    EXPECT_EQ(AccessMaskFromText("12747"), 0); // not a multiple: truncated
    EXPECT_EQ(AccessMaskFromText("99999999999999"), 168456); // saturates at INT32_MAX
}

TEST(LanguageText, EnAnywhereMeansEnglish) {
    EXPECT_EQ(LangBaseFromText("en"), 0);
    EXPECT_EQ(LangBaseFromText("en\r\n"), 0);
    EXPECT_EQ(LangBaseFromText("Russian? no: french"), 0); // "en" inside a word
    EXPECT_EQ(LangBaseFromText("ru"), 300);
    EXPECT_EQ(LangBaseFromText(""), 300);
    EXPECT_EQ(LangBaseFromText("EN"), 300);
}

TEST_F(SettingsFiles, MissingFilesGiveTwoMessagesAndDefaults) {
    Recorder rec;
    const auto s = LoadInterfaceSettings(dir_, rec);
    EXPECT_EQ(s.langBase, 300);
    EXPECT_EQ(s.access, 0);
    ASSERT_EQ(rec.messages.size(), 2u);
    EXPECT_EQ(rec.messages[0], "File not found " + (dir_ / "system.cfg").string());
    EXPECT_EQ(rec.messages[1], "File not found " + (dir_ / "locale.cfg").string());
}

TEST_F(SettingsFiles, EmptyAndNonsensicalFiles) {
    write("locale.cfg", "");
    write("system.cfg", "not a number");
    Recorder rec;
    const auto s = LoadInterfaceSettings(dir_, rec);
    EXPECT_TRUE(rec.messages.empty());
    EXPECT_EQ(s.langBase, 300);
    EXPECT_EQ(s.access, 0);
    ASSERT_TRUE(SaveInterfaceSettings(dir_, s));
    EXPECT_EQ(read("locale.cfg"), "ru");
    EXPECT_EQ(read("system.cfg"), "0");
}

TEST_F(SettingsFiles, SaveAndLoadRoundTrip) {
    ASSERT_TRUE(SaveInterfaceSettings(dir_, {0, 6}));
    EXPECT_EQ(read("locale.cfg"), "en");
    EXPECT_EQ(read("system.cfg"), "76488");
    Recorder rec;
    const auto s = LoadInterfaceSettings(dir_, rec);
    EXPECT_EQ(s.langBase, 0);
    EXPECT_EQ(s.access, 6);
    EXPECT_TRUE(rec.messages.empty());
    // No temporary files stay behind.
    int files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_))
        ++files;
    EXPECT_EQ(files, 2);
}

TEST_F(SettingsFiles, FailureOnLocaleSkipsSystem) {
    // A folder where locale.cfg should be cannot be replaced by a file.
    std::filesystem::create_directories(dir_ / "locale.cfg");
    write("system.cfg", "12748");
    EXPECT_FALSE(SaveInterfaceSettings(dir_, {0, 3}));
    EXPECT_EQ(read("system.cfg"), "12748");
}

TEST_F(SettingsFiles, UnwritableFolderLeavesOldFiles) {
    write("locale.cfg", "en");
    EXPECT_FALSE(SaveInterfaceSettings(dir_ / "no-such-folder", {300, 1}));
    EXPECT_EQ(read("locale.cfg"), "en");
}

} // namespace
} // namespace dm
