#include "core/settings_files.h"

#include "core/text_file.h"

#include <cstdlib>
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
    EXPECT_EQ(LanguageFromText("en"), Language::English);
    EXPECT_EQ(LanguageFromText("en\r\n"), Language::English);
    EXPECT_EQ(LanguageFromText("Russian? no: french"), Language::English); // "en" inside a word
    EXPECT_EQ(LanguageFromText("ru"), Language::Russian);
    EXPECT_EQ(LanguageFromText(""), Language::Russian);
    EXPECT_EQ(LanguageFromText("EN"), Language::Russian);
}

TEST_F(SettingsFiles, MissingFilesGiveTwoMessagesAndDefaults) {
    Recorder rec;
    const auto s = LoadInterfaceSettings(dir_, rec);
    EXPECT_EQ(s.language, Language::Russian);
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
    EXPECT_EQ(s.language, Language::Russian);
    EXPECT_EQ(s.access, 0);
    ASSERT_TRUE(SaveInterfaceSettings(dir_, s));
    EXPECT_EQ(read("locale.cfg"), "ru");
    EXPECT_EQ(read("system.cfg"), "0");
}

TEST_F(SettingsFiles, SaveAndLoadRoundTrip) {
    ASSERT_TRUE(SaveInterfaceSettings(dir_, {Language::English, 6}));
    EXPECT_EQ(read("locale.cfg"), "en");
    EXPECT_EQ(read("system.cfg"), "76488");
    Recorder rec;
    const auto s = LoadInterfaceSettings(dir_, rec);
    EXPECT_EQ(s.language, Language::English);
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
    EXPECT_FALSE(SaveInterfaceSettings(dir_, {Language::English, 3}));
    EXPECT_EQ(read("system.cfg"), "12748");
}

TEST_F(SettingsFiles, UnwritableFolderLeavesOldFiles) {
    write("locale.cfg", "en");
    EXPECT_FALSE(SaveInterfaceSettings(dir_ / "no-such-folder", {Language::Russian, 1}));
    EXPECT_EQ(read("locale.cfg"), "en");
}

// Upgrading: the files earlier versions kept in the working folder move once into the
// settings folder; a first start with nothing anywhere is silent; nothing is lost when
// the move cannot be made.
TEST_F(SettingsFiles, OldFilesMoveOnceIntoTheSettingsFolder) {
    const std::filesystem::path work = dir_ / "work", folder = dir_ / "config" / "dosimeter-manager";
    std::filesystem::create_directories(work);
    Recorder first;
    InterfaceSettings s = LoadSettingsAtStart(folder, work, first);
    EXPECT_EQ(s.language, Language::Russian);
    EXPECT_EQ(s.access, 0);
    EXPECT_TRUE(first.messages.empty());
    EXPECT_FALSE(std::filesystem::exists(folder)); // nothing written before the window ends

    std::ofstream(work / "locale.cfg", std::ios::binary) << "en";
    std::ofstream(work / "system.cfg", std::ios::binary) << "12748";
    Recorder moved;
    s = LoadSettingsAtStart(folder, work, moved);
    EXPECT_EQ(s.language, Language::English);
    EXPECT_EQ(s.access, 1);
    EXPECT_EQ(moved.messages, (std::vector<std::string>{
                                  "Settings file " + (work / "system.cfg").string() + " moved to " +
                                      (folder / "system.cfg").string(),
                                  "Settings file " + (work / "locale.cfg").string() + " moved to " +
                                      (folder / "locale.cfg").string()}));
    EXPECT_EQ(TryReadFile(folder / "locale.cfg"), "en");
    EXPECT_EQ(TryReadFile(folder / "system.cfg"), "12748");
    EXPECT_FALSE(std::filesystem::exists(work / "locale.cfg"));

    // Once moved, the settings folder wins; an old file met again is left alone.
    ASSERT_EQ(SaveSettingsAtExit(folder, {Language::Russian, 2}, moved), "");
    std::ofstream(work / "locale.cfg", std::ios::binary) << "en";
    Recorder again;
    s = LoadSettingsAtStart(folder, work, again);
    EXPECT_EQ(s.language, Language::Russian);
    EXPECT_EQ(s.access, 2);
    EXPECT_TRUE(again.messages.empty());
    EXPECT_EQ(TryReadFile(work / "locale.cfg"), "en");

    // A settings folder that cannot be made (a file stands in its way): read in place, kept.
    const std::filesystem::path blocked = dir_ / "blocked";
    std::ofstream(blocked) << "a file";
    Recorder failed;
    s = LoadSettingsAtStart(blocked / "dosimeter-manager", work, failed);
    EXPECT_EQ(s.language, Language::English);
    ASSERT_EQ(failed.messages.size(), 1u);
    EXPECT_EQ(failed.messages[0].rfind("Cannot move " + (work / "locale.cfg").string(), 0), 0u) << failed.messages[0];
    EXPECT_EQ(TryReadFile(work / "locale.cfg"), "en");
    // The save at the end names the folder's trouble instead of passing.
    EXPECT_NE(SaveSettingsAtExit(blocked / "dosimeter-manager", s, failed), "");
}

TEST(SettingsFolder, FollowsXdgConfigHomeElseHome) {
    const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string keep = oldConfig ? oldConfig : "";
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(DefaultSettingsFolder(), std::filesystem::path("/cfg/dosimeter-manager"));
    ::unsetenv("XDG_CONFIG_HOME");
    if (const char* home = std::getenv("HOME"); home && *home) {
        EXPECT_EQ(DefaultSettingsFolder(), std::filesystem::path(home) / ".config" / "dosimeter-manager");
    }
    if (oldConfig)
        ::setenv("XDG_CONFIG_HOME", keep.c_str(), 1);
}

} // namespace
} // namespace dm
