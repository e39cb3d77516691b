// What scripts see when stdout cannot be written or the catalogue cannot fill the table.
#include "core/text_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace {

struct CliRun {
    int code = -1;
    std::string out, err;
};

// Runs the tool in the test data folder; stdout goes to `to` (a scratch file when empty).
CliRun Cli(const std::string& args, std::string to = {}) {
    const std::string scratch = "/tmp/dm-cli-writes-" + std::to_string(::getpid());
    if (to.empty())
        to = scratch + ".out";
    const int status = std::system(("cd '" DM_TEST_DATA "' && '" DM_BIN_DIR "/dosimeter-cli' " + args + " >'" +
                                    to + "' 2>'" + scratch + ".err'").c_str());
    CliRun r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, dm::TryReadFile(scratch + ".out").value_or(""),
             dm::TryReadFile(scratch + ".err").value_or("")};
    std::remove((scratch + ".out").c_str());
    std::remove((scratch + ".err").c_str());
    return r;
}

TEST(CliOutput, IntoAFullDiskEveryCommandFailsWithOneLine) {
    for (const char* args : {"archive archive-krt17a.txt --save-tab 1", "archive archive-krt17a.txt --json",
                             "params params-krt17a.txt --save-tab 0 --catalogue params-catalogue.lst",
                             "format-dose 0.001 5", "compose erase", "--help", "archive --help",
                             "format-duration --help"}) {
        const CliRun r = Cli(args, "/dev/full");
        EXPECT_EQ(r.code, 1) << args;
        EXPECT_EQ(r.err, "dosimeter-cli: cannot write to stdout: No space left on device\n") << args;
    }
}

// A reader that leaves early (`| head -c 10`) is a failed write like a full disk, whatever
// the signal disposition the tool inherits: the same line, exit 1, never death by SIGPIPE.
TEST(CliOutput, IntoAPipeClosedEarlyEveryCommandFailsAsIntoAFullDisk) {
    const std::string scratch = "/tmp/dm-cli-pipe-" + std::to_string(::getpid());
    std::string archive = "a\r\nb\r\nc\r\nd\r\n"; // far more output than a pipe holds
    for (int r = 1; r <= 10000; ++r)
        archive += std::to_string(r) + ".0E-06\r\n";
    std::ofstream(scratch + ".txt", std::ios::binary) << archive;
    for (const char* args : {"--json", "", "--save-tab 1"}) {
        const std::string line = "env --default-signal=PIPE '" DM_BIN_DIR "/dosimeter-cli' archive '" + scratch +
                                 ".txt' " + args + " 2>'" + scratch + ".err' | head -c 10 >/dev/null; exit ${PIPESTATUS[0]}";
        std::ofstream(scratch + ".sh") << line;
        const int status = std::system(("bash '" + scratch + ".sh'").c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << args << ": status " << status;
        EXPECT_EQ(dm::TryReadFile(scratch + ".err").value_or(""),
                  "dosimeter-cli: cannot write to stdout: Broken pipe\n")
            << args;
    }
    for (const char* ext : {".txt", ".err", ".sh"})
        std::remove((scratch + ext).c_str());
}

TEST(CliOutput, CatalogueWithoutTheModelsSectionWarnsAndStillPrintsTheTable) {
    const std::string file = "/tmp/dm-cli-catalogue-" + std::to_string(::getpid()) + ".lst";
    const std::string bare = Cli("params params-krt17a.txt --catalogue /dev/null").out;
    // Empty, garbage, a lost closing tag.
    for (const char* bytes : {"", "\x01\xff<KRT17A\r\n</KRT17A-e", "<KRT17A-en>\r\ndose_val#Dose@r$defaultcolor\r\n"}) {
        std::ofstream(file, std::ios::binary) << bytes;
        const CliRun r = Cli("params params-krt17a.txt --catalogue " + file);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out, bare);
        EXPECT_EQ(r.err, "dosimeter-cli: warning: Catalogue \"" + file +
                             "\" has no section <KRT17A-en>: no parameters shown from it\n");
    }
    std::ofstream(file, std::ios::binary) << "<MLV52B-ru>\r\nno markers\r\n</MLV52B-ru>\r\n";
    EXPECT_EQ(Cli("params params-mlv52b.txt --lang ru --catalogue " + file).err,
              "dosimeter-cli: warning: В разделе <MLV52B-ru> каталога \"" + file + "\" нет ни одного параметра\n");
    std::remove(file.c_str());
    EXPECT_EQ(Cli("params params-krt17a.txt --catalogue params-catalogue.lst").err, "");
}

} // namespace
