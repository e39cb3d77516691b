// Saves onto a small file system that is full: the table save and the settings save fail
// with the reason told, leave the old files byte for byte as they were and leave no
// stray file. Needs root to mount the file system; skipped otherwise.
#include "core/settings_files.h"
#include "core/text_file.h"
#include "history/table_save.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace dm {
namespace {

namespace fs = std::filesystem;

class Dialogs : public UserDialogs {
public:
    std::optional<std::string> fileName;
    std::vector<std::string> messages;
    int questions = 0;
    void showMessage(const std::string& text) override { messages.push_back(text); }
    bool askYesNo(const std::string&) override { return ++questions, true; }
    std::optional<std::string> askSaveFileName() override { return fileName; }
    std::optional<std::string> askPassword() override { return std::nullopt; }
};

class FullDisk : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "mounting the small file system needs root";
        dir_ = fs::temp_directory_path() / ("dm-full-disk-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        if (::mount("tmpfs", dir_.c_str(), "tmpfs", 0, "size=64k") != 0) {
            const int err = errno;
            fs::remove(dir_);
            dir_.clear();
            GTEST_SKIP() << "no tmpfs can be mounted here: " << std::strerror(err);
        }
        mounted_ = true;
    }
    void TearDown() override {
        if (mounted_)
            ::umount2(dir_.c_str(), MNT_DETACH);
        if (!dir_.empty())
            fs::remove_all(dir_);
    }

    void put(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
    }

    // Takes the last free block with one file.
    void fill() {
        const int fd = ::open((dir_ / "filler").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        const std::string block(4096, 'f');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        ASSERT_EQ(errno, ENOSPC);
        ::close(fd);
    }

    std::set<std::string> names() const {
        std::set<std::string> found;
        for (const auto& e : fs::directory_iterator(dir_))
            found.insert(e.path().filename().string());
        return found;
    }

    fs::path dir_;
    bool mounted_ = false;
};

TEST_F(FullDisk, TableSaveKeepsTheOldFileAndLeavesNoNewOne) {
    const std::string old = "1\t1.0E-06\r\n2\t2.0E-06\r\n";
    put("table.txt", old);
    fill();
    const std::string table(20000, 't');

    Dialogs dialogs;
    dialogs.fileName = (dir_ / "table.txt").string();
    SaveResult r = SaveTableFile(dialogs, 0, table);
    EXPECT_FALSE(r.saved);
    EXPECT_EQ(dialogs.questions, 1);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "Cannot write file \"" + *dialogs.fileName + "\": No space left on device");
    EXPECT_EQ(TryReadFile(dir_ / "table.txt"), old);
    EXPECT_EQ(names(), (std::set<std::string>{"filler", "table.txt"}));

    dialogs.fileName = (dir_ / "new.txt").string();
    r = SaveTableFile(dialogs, 0, table);
    EXPECT_FALSE(r.saved);
    EXPECT_FALSE(r.skipName); // no file of that name is there for the pickup to mind
    EXPECT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(names(), (std::set<std::string>{"filler", "table.txt"}));

    // Room again: the same save goes through.
    fs::remove(dir_ / "filler");
    dialogs.fileName = (dir_ / "table.txt").string();
    r = SaveTableFile(dialogs, 0, table);
    EXPECT_TRUE(r.saved);
    EXPECT_EQ(TryReadFile(dir_ / "table.txt"), table);
    EXPECT_EQ(names(), (std::set<std::string>{"table.txt"}));
}

TEST_F(FullDisk, SettingsSaveAtExitTellsTheUserAndKeepsTheOldFiles) {
    put("locale.cfg", "en");
    put("system.cfg", "12748");
    // Each file takes a whole block even for two bytes: fill up to the last byte.
    fill();
    std::vector<std::string> shown;
    struct Sink : MessageSink {
        std::vector<std::string>* shown;
        void showMessage(const std::string& text) override { shown->push_back(text); }
    } sink;
    sink.shown = &shown;

    const std::string error = SaveSettingsAtExit(dir_, {300, 3}, sink);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], error);
    EXPECT_EQ(error, "Не удалось сохранить настройки: " + (dir_ / "locale.cfg").string() +
                         ": No space left on device");
    EXPECT_EQ(TryReadFile(dir_ / "locale.cfg"), "en");
    EXPECT_EQ(TryReadFile(dir_ / "system.cfg"), "12748");
    EXPECT_EQ(names(), (std::set<std::string>{"filler", "locale.cfg", "system.cfg"}));

    // A folder that became read-only fails the same way, in English for English settings.
    fs::remove(dir_ / "filler");
    ASSERT_EQ(::mount("tmpfs", dir_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k"), 0);
    shown.clear();
    EXPECT_EQ(SaveSettingsAtExit(dir_, {0, 1}, sink),
              "Cannot save the settings: " + (dir_ / "locale.cfg").string() + ": Read-only file system");
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_EQ(TryReadFile(dir_ / "locale.cfg"), "en");
}

} // namespace
} // namespace dm
