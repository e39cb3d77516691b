// What scripts see when the output cannot be written or the catalogue cannot fill the
// parameter table: one clear line on stderr, and an exit code that tells the truth.
#include "core/text_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const std::string kData = DM_TEST_DATA;

struct CliRun {
    int code = -1;
    std::string out, err;
};

class CliWrites : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("dm-cli-writes-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs the tool in the test data folder with stdout sent to stdoutTarget (a file of
    // the test's own folder when empty).
    CliRun run(const std::string& args, const std::string& stdoutTarget = {}) {
        const fs::path out = dir_ / "out", err = dir_ / "err";
        const std::string command = "cd '" + kData + "' && '" + DM_BIN_DIR + "/dosimeter-cli' " + args +
                                    " >'" + (stdoutTarget.empty() ? out.string() : stdoutTarget) + "' 2>'" +
                                    err.string() + "'";
        const int status = std::system(command.c_str());
        CliRun r;
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = dm::TryReadFile(out).value_or("");
        r.err = dm::TryReadFile(err).value_or("");
        fs::remove(out);
        return r;
    }

    std::string catalogue(const std::string& name, const std::string& bytes) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    fs::path dir_;
};

TEST_F(CliWrites, EveryOutputIntoAFullDiskFailsWithOneLine) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    const std::string cat = " --catalogue params-catalogue.lst";
    for (const std::string& args : std::vector<std::string>{
             "archive archive-krt17a.txt --save-tab 1", "archive archive-krt17a.txt --json",
             "archive archive-mlv52b-short.txt", "params params-krt17a.txt --save-tab 0" + cat,
             "params params-krt17a.txt --json" + cat, "format-dose 0.001 5", "format-duration 61",
             "compose erase", "--help", "archive --help", "format-duration --help", "compose --help"}) {
        const CliRun r = run(args, "/dev/full");
        EXPECT_EQ(r.code, 1) << args;
        EXPECT_EQ(r.err, "dosimeter-cli: cannot write to stdout: No space left on device\n") << args;
    }
}

TEST_F(CliWrites, CatalogueWithoutTheModelsSectionWarnsOnceAndStillPrintsTheTable) {
    const std::string bare = run("params params-krt17a.txt --catalogue " + catalogue("empty.lst", "")).out;
    ASSERT_NE(bare, "");
    struct Case {
        const char* name;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty.lst", ""},
        {"garbage.lst", std::string("\x01\xff\xfe<KRT17A\r\n</KRT17A-e", 21)},
        {"unclosed.lst", "<KRT17A-en>\r\nserial_number#Serial number@r$defaultcolor\r\n"},
    };
    for (const Case& c : cases) {
        const std::string file = catalogue(c.name, c.bytes);
        const CliRun r = run("params params-krt17a.txt --catalogue " + file);
        EXPECT_EQ(r.code, 0) << c.name;
        EXPECT_EQ(r.out, bare) << c.name;
        EXPECT_EQ(r.err, "dosimeter-cli: warning: Catalogue \"" + file +
                             "\" has no section <KRT17A-en>: no parameters shown from it\n")
            << c.name;
    }

    // A section with no line the table can use says so too, in the language in force.
    const std::string junk = catalogue("junk.lst", "<MLV52B-ru>\r\nno markers here\r\n</MLV52B-ru>\r\n");
    CliRun r = run("params params-mlv52b.txt --lang ru --catalogue " + junk);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "dosimeter-cli: warning: В разделе <MLV52B-ru> каталога \"" + junk +
                         "\" нет ни одного параметра\n");

    // The full catalogue, and an empty reply whose model is not known, stay quiet.
    r = run("params params-krt17a.txt --catalogue params-catalogue.lst");
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out, bare);
    r = run("params /dev/null --catalogue " + catalogue("empty.lst", ""));
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
}

} // namespace
