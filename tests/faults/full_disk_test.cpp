// Saves onto a small full file system: the failure is told with its reason, the old files
// stay byte for byte and no stray file is left. Mounting needs root; skipped otherwise.
#include "core/settings_files.h"
#include "core/text_file.h"
#include "history/table_save.h"
#include "../app/scripted_dialogs.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace dm {
namespace {

namespace fs = std::filesystem;

class FullDisk : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir_);
        if (::geteuid() != 0 || ::mount("tmpfs", dir_.c_str(), "tmpfs", 0, "size=64k") != 0)
            GTEST_SKIP() << "no small tmpfs can be mounted (needs root)";
        mounted_ = true;
    }
    void TearDown() override {
        if (mounted_)
            ::umount2(dir_.c_str(), MNT_DETACH);
        fs::remove_all(dir_);
    }
    // Writes the old files, then takes every free block.
    void fillAfter(const std::map<std::string, std::string>& files) {
        for (const auto& [name, bytes] : files)
            std::ofstream(dir_ / name, std::ios::binary) << bytes;
        const int fd = ::open((dir_ / "filler").c_str(), O_WRONLY | O_CREAT, 0644);
        const std::string block(4096, 'f');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        ::close(fd);
    }
    std::set<std::string> names() const {
        std::set<std::string> found;
        for (const auto& e : fs::directory_iterator(dir_))
            found.insert(e.path().filename().string());
        return found;
    }
    const fs::path dir_ = fs::temp_directory_path() /
                          ("dm-full-" + std::to_string(::getpid()) + "-" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    bool mounted_ = false;
};

TEST_F(FullDisk, TableAndSettingsSavesKeepTheOldFilesAndLeaveNoStrayFile) {
    fillAfter({{"table.txt", "1\t1.0E-06\r\n"}, {"locale.cfg", "en"}, {"system.cfg", "12748"}});
    ScriptedDialogs dialogs;
    for (const char* name : {"table.txt", "new.txt"}) {
        dialogs.saveNames.push_back((dir_ / name).string());
        EXPECT_FALSE(SaveTableFile(dialogs, Language::English, std::string(20000, 't')).saved);
        EXPECT_EQ(dialogs.messages.back(),
                  "Cannot write file \"" + (dir_ / name).string() + "\": No space left on device");
    }
    const std::string error = SaveSettingsAtExit(dir_, {Language::Russian, 3}, dialogs);
    EXPECT_EQ(error, "Не удалось сохранить настройки: " + (dir_ / "locale.cfg").string() +
                         ": No space left on device");
    EXPECT_EQ(dialogs.messages.back(), error);
    EXPECT_EQ(TryReadFile(dir_ / "table.txt"), "1\t1.0E-06\r\n");
    EXPECT_EQ(TryReadFile(dir_ / "locale.cfg"), "en");
    EXPECT_EQ(TryReadFile(dir_ / "system.cfg"), "12748");
    EXPECT_EQ(names(), (std::set<std::string>{"filler", "locale.cfg", "system.cfg", "table.txt"}));
}

} // namespace
} // namespace dm
