// The params and compose subcommands, run as scripts run them.
#include "core/text_file.h"
#include "../shell_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>


namespace {

const std::string kData = DM_TEST_DATA;
const std::string kCli = std::string(DM_BIN_DIR) + "/dosimeter-cli";
const std::string kCatalogue = " --catalogue " + kData + "/params-catalogue.lst";

// errors: read stderr instead of stdout.
ShellRun RunCli(const std::string& args, bool errors = false) {
    return RunShell(kCli + " " + args + (errors ? " 2>&1 >/dev/null" : " 2>/dev/null"));
}

std::string Golden(const std::string& name) {
    return dm::TryReadFile(kData + "/golden/commands/" + name).value_or("(missing)");
}

class ComposeCli : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("params-cli-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
};

TEST_F(ComposeCli, FixedFilesAreWrittenByteForByte) {
    EXPECT_EQ(RunCli("compose get-parameters").out, Golden("get-parameters.txt"));
    EXPECT_EQ(RunCli("compose get-parameters --access 6").out,
              Golden("get-parameters-unlocked.txt"));
    EXPECT_EQ(RunCli("compose erase").out, Golden("erase.txt"));
    EXPECT_EQ(RunCli("compose get-archive").out, Golden("get-archive.txt"));
}

TEST_F(ComposeCli, SendChangesWritesEachPushAndPrintsThePaths) {
    const ShellRun run = RunCli(
        "compose send-changes " + kData + "/params-krt17a.txt" + kCatalogue +
        " --access 7 --touch rate_threshold --set dose_threshold=0.05 --set history_time=120"
        " --touch userinfo --touch g_ks_large --touch g_ks_small --touch n_ks --touch csWeigth"
        " --set 'wtx[01]=1.25' --touch 'wtx[10]' --set cfg_final_sound=disable"
        " --signal percent --limit 12.5 --out-dir " +
        dir_.string());
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out,
              (dir_ / "command-1.txt").string() + "\n" + (dir_ / "command-2.txt").string() + "\n");
    EXPECT_EQ(dm::TryReadFile(dir_ / "command-1.txt"), Golden("send-changes-krt17a-batch-1.txt"));
    EXPECT_EQ(dm::TryReadFile(dir_ / "command-2.txt"), Golden("send-changes-krt17a-batch-2.txt"));
}

TEST_F(ComposeCli, BadEditsAreUsageErrorsAndWriteNothing) {
    const std::string base = "compose send-changes " + kData + "/params-mlv52b.txt" + kCatalogue +
                             " --out-dir " + dir_.string();
    for (const char* edit : {"--set nokey=1", "--set serial_number=1", "--signal percent",
                             "--set history_time", "--touch nokey"}) {
        const ShellRun run = RunCli(base + " " + edit);
        EXPECT_EQ(run.exitCode, 2) << edit;
        EXPECT_EQ(run.out, "") << edit;
    }
    EXPECT_FALSE(std::filesystem::exists(dir_));
    // Values the dosimeter would not keep are named with the reason, and nothing is written.
    const std::string krt = "compose send-changes " + kData + "/params-krt17a.txt" + kCatalogue +
                            " --out-dir " + dir_.string();
    for (const char* edit : {"--set dose_threshold=abc", "--set history_time=-5",
                             "--set dose_threshold=99999999999999999999999", "--set rate_threshold="}) {
        const ShellRun run = RunCli(krt + " " + edit, true);
        EXPECT_EQ(run.exitCode, 2) << edit;
        EXPECT_NE(run.out.find("is not taken by the dosimeter"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find(std::string(edit).substr(6, std::string(edit).find('=') - 6)), std::string::npos)
            << run.out;
    }
    EXPECT_FALSE(std::filesystem::exists(dir_));
    // A decimal comma is taken and sent as a point.
    ASSERT_EQ(RunCli(krt + " --set dose_threshold=2,5E-05").exitCode, 0);
    EXPECT_NE(dm::TryReadFile(dir_ / "command-1.txt").value_or("").find("dose_threshold = 2.5E-05\r\n"),
              std::string::npos);
    std::filesystem::remove_all(dir_);
    // A list cell takes only its options in the language in force.
    EXPECT_EQ(RunCli("compose send-changes " + kData + "/params-krt17a.txt" + kCatalogue +
                     " --set cfg_final_sound=enable --lang ru --out-dir " + dir_.string())
                  .exitCode,
              2);
}

TEST(ParamsCli, TableJsonAndSavedBytes) {
    const ShellRun text = RunCli("params " + kData + "/params-mlv52b.txt" + kCatalogue);
    ASSERT_EQ(text.exitCode, 0);
    EXPECT_EQ(text.out.substr(0, text.out.find('\n')), "Parameter name\tCommand\tParameter value");
    EXPECT_NE(text.out.find("\nBeep when dose value reaches ... (Sv)\t\t0.0005\n"),
              std::string::npos);

    const ShellRun json = RunCli("params " + kData + "/params-krt17a.txt" + kCatalogue + " --json");
    ASSERT_EQ(json.exitCode, 0);
    EXPECT_NE(json.out.find("\"model\": \"KRT-17A\""), std::string::npos);
    EXPECT_NE(json.out.find("\"history_interval\": 60.0"), std::string::npos);
    EXPECT_NE(json.out.find("\"value_options\": [\"enable\", \"disable\"]"), std::string::npos);

    const ShellRun saved =
        RunCli("params " + kData + "/params-mlv52b.txt" + kCatalogue + " --save-tab 0");
    ASSERT_EQ(saved.exitCode, 0);
    EXPECT_EQ(saved.out.substr(0, 26), "Serial number = 52-0042\r\nD");

    EXPECT_EQ(RunCli("params " + kData + "/no-such-reply.txt" + kCatalogue).exitCode, 2);
    EXPECT_EQ(
        RunCli("params " + kData + "/params-mlv52b.txt" + kCatalogue + " --save-tab 1").exitCode,
        2);
}

} // namespace
