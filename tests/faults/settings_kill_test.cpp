// The settings save killed at random moments: each file is afterwards the old one or the
// new one, whole, never empty or cut, and the next start reads one of the two settings.
#include "core/settings_files.h"
#include "core/text_file.h"

#include <csignal>
#include <filesystem>
#include <random>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace dm {
namespace {

constexpr InterfaceSettings kOld{Language::English, 1};   // "en", mask 1
constexpr InterfaceSettings kNew{Language::Russian, 6}; // "ru", mask 6

class SettingsSaveKilled : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("dm-faults-settings-" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // A child that saves the two settings in turn until it is killed.
    pid_t startSaver() {
        const pid_t pid = ::fork();
        if (pid == 0) {
            for (unsigned i = 0;; ++i)
                (void)SaveInterfaceSettings(dir_, i % 2 ? kOld : kNew);
        }
        return pid;
    }

    void killAfter(pid_t pid, std::chrono::microseconds delay) {
        ::usleep(static_cast<useconds_t>(delay.count()));
        ASSERT_EQ(::kill(pid, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saver ended on its own";
    }

    // Each file is absent (only when allowed) or holds exactly one of the two contents.
    void expectWholeFiles(bool mayBeAbsent, int round) {
        const auto locale = TryReadFile(dir_ / "locale.cfg");
        const auto system = TryReadFile(dir_ / "system.cfg");
        if (!mayBeAbsent) {
            ASSERT_TRUE(locale) << "round " << round;
            ASSERT_TRUE(system) << "round " << round;
        }
        if (locale) {
            EXPECT_TRUE(*locale == "en" || *locale == "ru")
                << "round " << round << ": locale.cfg holds \"" << *locale << "\"";
        }
        if (system) {
            EXPECT_TRUE(*system == std::to_string(ScrambleAccessMask(kOld.access)) ||
                        *system == std::to_string(ScrambleAccessMask(kNew.access)))
                << "round " << round << ": system.cfg holds \"" << *system << "\"";
        }
    }

    std::filesystem::path dir_;
};

TEST_F(SettingsSaveKilled, LeavesTheOldOrTheNewFileWhole) {
    ASSERT_TRUE(SaveInterfaceSettings(dir_, kOld));
    std::mt19937 random(::testing::UnitTest::GetInstance()->random_seed());
    std::uniform_int_distribution<int> delayUs(0, 3000);
    for (int round = 0; round < 150 && !HasFailure(); ++round) {
        const pid_t pid = startSaver();
        ASSERT_GT(pid, 0);
        killAfter(pid, std::chrono::microseconds(delayUs(random)));
        expectWholeFiles(false, round);

        // What the next start makes of the folder: one of the two settings.
        SilentMessages quiet;
        const InterfaceSettings loaded = LoadInterfaceSettings(dir_, quiet);
        EXPECT_TRUE(loaded.language == Language::English || loaded.language == Language::Russian);
        EXPECT_TRUE(loaded.access == kOld.access || loaded.access == kNew.access)
            << "round " << round << ": mask " << loaded.access;
    }
    // A save after all those kills still works over whatever they left behind.
    ASSERT_TRUE(SaveInterfaceSettings(dir_, kNew));
    EXPECT_EQ(TryReadFile(dir_ / "locale.cfg"), "ru");
}

TEST_F(SettingsSaveKilled, FirstSaveEverLeavesNoFileOrAWholeOne) {
    std::mt19937 random(::testing::UnitTest::GetInstance()->random_seed() + 1);
    std::uniform_int_distribution<int> delayUs(0, 400);
    for (int round = 0; round < 60 && !HasFailure(); ++round) {
        std::filesystem::remove(dir_ / "locale.cfg");
        std::filesystem::remove(dir_ / "system.cfg");
        const pid_t pid = startSaver();
        ASSERT_GT(pid, 0);
        killAfter(pid, std::chrono::microseconds(delayUs(random)));
        expectWholeFiles(true, round);
    }
}

} // namespace
} // namespace dm
