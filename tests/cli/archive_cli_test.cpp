// The `archive` subcommand end to end: what scripts see on stdout, stderr and the exit code.
#include "core/text_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct CliRun {
    int code = -1;
    std::string out, err;
};

CliRun Cli(const std::string& args) {
    const fs::path dir = fs::temp_directory_path();
    // ctest may run the cases side by side: one pair of files per case.
    const std::string stem = std::string("dm-archive-cli-") +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
                             std::to_string(::getpid());
    const fs::path out = dir / (stem + ".out"), err = dir / (stem + ".err");
    const std::string command = std::string("cd '") + DM_TEST_DATA + "' && '" + DM_BIN_DIR +
                                "/dosimeter-cli' archive " + args + " >'" + out.string() +
                                "' 2>'" + err.string() + "'";
    const int status = std::system(command.c_str());
    CliRun r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = dm::TryReadFile(out).value_or("");
    r.err = dm::TryReadFile(err).value_or("");
    fs::remove(out);
    fs::remove(err);
    return r;
}

std::string Golden(const std::string& name) {
    return dm::TryReadFile(fs::path(DM_TEST_DATA) / "golden" / name).value_or("<missing>");
}

TEST(ArchiveCommand, PrintsBothTablesWithHiddenColumns) {
    CliRun r = Cli("archive-mlv52b.txt");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "# dose history\n#\tDose value\n1\t1.5E-06\n2\t2.25E-05\n3\t3.0E-04\n");

    r = Cli("archive-krt17a-result.txt --interval 60");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "# dose history\n"
                     "#\t\tDose value\tTime\n"
                     "1\t1.0E-06\t1.0 mkSv\t00:01:00\n"
                     "2\t2.0E-06\t2.0 mkSv\t00:02:00\n"
                     "# neutron history\n"
                     "#\t\tNeutron dose value\tSpectrum estimation coeff.\t\tTime\n"
                     "1\t1.1E-07\t0.11 mkSv\t1.05\t60\t00:01:00\n");
}

TEST(ArchiveCommand, JsonNamesLayoutTabsAndTables) {
    CliRun r = Cli("archive-mlv52b-short.txt --json");
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("\"layout\": \"B\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"has_neutron\": false"), std::string::npos);
    EXPECT_NE(r.out.find("\"tabs\": [\"Parameters\", \"Dose history\"]"), std::string::npos);
    EXPECT_NE(r.out.find("\"neutron\": null"), std::string::npos);

    r = Cli("archive-neutron-only.txt --json --lang ru");
    EXPECT_NE(r.out.find("\"neutron\": {\"widths\": [520, 0, 2700, 2200, 0, 1000]"), std::string::npos)
        << r.out;
}

TEST(ArchiveCommand, ALongArchiveComesOutWholeInPieces) {
    // Far more than one piece of output: every row once, in order, and JSON that closes.
    const fs::path reply = fs::temp_directory_path() / ("dm-archive-cli-long-" + std::to_string(::getpid()) + ".txt");
    {
        std::string text = "h\r\n";
        for (int i = 1; i <= 3000; ++i)
            text += (i == 1 ? " " : "") + std::to_string(i) + ".0E-06\r\n";
        for (int i = 1; i <= 3000; ++i)
            text += std::to_string(i) + ".0E-07\t1.00\t " + std::to_string(60 * i) + "\r\n";
        std::string error;
        ASSERT_TRUE(dm::WriteFileAtomically(reply, text, &error)) << error;
    }
    const CliRun text = Cli("'" + reply.string() + "'");
    const CliRun json = Cli("'" + reply.string() + "' --json");
    fs::remove(reply);
    ASSERT_EQ(text.code, 0) << text.err;
    std::size_t lastDose = 0, lastNeutron = 0;
    for (int i = 1; i <= 3000; ++i) {
        const std::string n = std::to_string(i);
        const std::size_t dose = text.out.find("\n" + n + "\t" + n + ".0E-06\t");
        const std::size_t neutron = text.out.find("\n" + n + "\t" + n + ".0E-07\t");
        ASSERT_NE(dose, std::string::npos) << i;
        ASSERT_NE(neutron, std::string::npos) << i;
        ASSERT_GT(dose, lastDose);
        ASSERT_GT(neutron, lastNeutron);
        lastDose = dose;
        lastNeutron = neutron;
    }
    EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), 2 + 2 * 3001);
    ASSERT_EQ(json.code, 0) << json.err;
    EXPECT_EQ(json.out.substr(json.out.size() - 5), "]}\n}\n");
    EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '['), 5 + 2 * 3001);
}

TEST(ArchiveCommand, SaveTabWritesTheSavedFileBytes) {
    EXPECT_EQ(Cli("archive-krt17a.txt --save-tab 1").out, Golden("krt17a-tab1.txt"));
    EXPECT_EQ(Cli("archive-krt17a.txt --save-tab 2 --lang ru").out, Golden("krt17a-tab2-ru.txt"));
}

TEST(ArchiveCommand, FailuresPrintOneLineAndNoOutput) {
    struct Case { const char* args; int code; const char* names; };
    for (const Case& c : {Case{"missing.txt", 2, "missing.txt"},
                          Case{"archive-mlv52b.txt --save-tab 2", 1, "neutron"},
                          Case{"archive-mlv52b.txt --save-tab 0", 2, "--save-tab"},
                          Case{"archive-mlv52b.txt --interval soon", 2, "--interval"},
                          Case{"archive-mlv52b.txt --interval nan", 2, "--interval"},
                          Case{"archive-mlv52b.txt --json --save-tab 1", 2, "--json"},
                          Case{"", 2, "archive"},
                          Case{"archive-mlv52b.txt --lang de", 2, "--lang"}}) {
        const CliRun r = Cli(c.args);
        EXPECT_EQ(r.code, c.code) << c.args;
        EXPECT_EQ(r.out, "") << c.args;
        EXPECT_EQ(r.err.rfind("dosimeter-cli: ", 0), 0u) << c.args << ": " << r.err;
        EXPECT_NE(r.err.find(c.names), std::string::npos) << c.args << ": " << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << c.args << ": " << r.err;
    }
}

} // namespace
