// dosimeter-cli push as scripts run it: its lines on stdout and its exit status.
#include "../link/obex_test_peer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include <sys/wait.h>

namespace dm {
namespace {

namespace fs = std::filesystem;

struct CliRun {
    int status = -1;
    std::string out;
};

CliRun Cli(const std::string& arguments) {
    const std::string command = std::string(DM_BIN_DIR) + "/dosimeter-cli push " + arguments + " 2>/dev/null";
    CliRun run;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[512];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        run.out.append(buffer, n);
    const int raw = ::pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

class PushCli : public ::testing::Test {
protected:
    PushCli() : file(fs::path(::testing::TempDir()) / ("dm_push_" + std::to_string(std::random_device{}()) + ".txt")) {
        std::ofstream(file, std::ios::binary) << "get_archive\r\n";
    }
    ~PushCli() override { fs::remove(file); }
    std::string link(const test::ObexTestPeer& peer) const {
        return "--link tcp:127.0.0.1:" + std::to_string(peer.port()) + " " + file.string();
    }
    fs::path file;
};

TEST_F(PushCli, PrintsEachAnswerAndSucceeds) {
    test::ObexTestPeer peer;
    const CliRun run = Cli(link(peer));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "CONNECT 0xA0\nPUT 0x90\nPUT 0xA0\nDISCONNECT 0xA0\n");
    EXPECT_EQ(peer.requests()[2].substr(6), "get_archive\r\n");
}

TEST_F(PushCli, ContinueToTheFinalPutFails) {
    test::ObexTestPeer peer([](std::size_t i, std::uint8_t op) {
        return i == 2 ? test::ReplyWith(std::string("\x90\x00\x03", 3)) : test::StandardAnswer(i, op);
    });
    const CliRun run = Cli(link(peer));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "CONNECT 0xA0\nPUT 0x90\nPUT 0x90\n");
}

TEST_F(PushCli, BadInputIsAUsageErrorAndTooLongIsRefused) {
    test::ObexTestPeer peer;
    EXPECT_EQ(Cli("--link tcp:nowhere " + file.string()).status, 2);
    EXPECT_EQ(Cli("--link tcp:127.0.0.1:" + std::to_string(peer.port()) + " /no/such/file").status, 2);
    EXPECT_EQ(Cli(file.string()).status, 2);

    std::ofstream(file, std::ios::binary) << std::string(16379, 'x');
    const CliRun run = Cli(link(peer));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(peer.sessions(), 0u);
}

} // namespace
} // namespace dm
