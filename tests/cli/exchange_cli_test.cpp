// dosimeter-cli read-params / read-archive end to end: the tool pushes over TCP to a
// small OBEX server in this test, which answers by dropping a reply file into the
// received-files folder, as the infrared file-transfer service would.
#include "link/irda/serial_port.h"
#include "../link/obex_test_peer.h"
#include "sim/simulated_dosimeter.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary);
    out << bytes;
}

// The dosimeter's side of the link: answers every push as a well-behaved OBEX server
// and, once the final PUT is in, beams what onPush writes.
class FakeObexServer {
public:
    explicit FakeObexServer(std::function<void()> onPush)
        : peer_([onPush](std::size_t index, std::uint8_t opcode) {
              if (opcode == 0x82 && onPush) onPush();
              return dm::test::StandardAnswer(index, opcode);
          }) {}
    int port() const { return peer_.port(); }
    // The command texts pushed so far (the End-of-Body of each final PUT).
    std::vector<std::string> bodies() {
        std::vector<std::string> out;
        for (const std::string& p : peer_.recorded())
            if (p.size() >= 6 && static_cast<unsigned char>(p[0]) == 0x82) out.push_back(p.substr(6));
        return out;
    }

private:
    dm::test::ObexTestPeer peer_;
};

// A loopback port nobody listens on (bound for a moment, then released).
int UnusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

struct CliRun {
    int exitCode = -1;
    std::string out, err;
};

// Runs dosimeter-cli with args; stdout and stderr are collected through files.
CliRun RunCli(const std::vector<std::string>& args, const fs::path& work) {
    const fs::path outFile = work / "cli.out", errFile = work / "cli.err";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(err, 2);
        // What the tool reads is recorded: into the test's folder, never the user's.
        ::setenv("DOSIMETER_RECORDS", ("sqlite:" + (work / "records.sqlite").string()).c_str(), 1);
        ::setenv("XDG_DATA_HOME", (work / "data").c_str(), 1); // the spool too
        std::vector<std::string> all{std::string(DM_BIN_DIR) + "/dosimeter-cli"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    CliRun r;
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadAll(outFile);
    r.err = ReadAll(errFile);
    return r;
}

class ExchangeCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        work = fs::temp_directory_path() /
               ("dm-exchange-cli-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(work);
        recv = work / "recv";
        fs::create_directories(recv);
    }
    void TearDown() override { fs::remove_all(work); }

    std::string link(const FakeObexServer& s) const { return "tcp:127.0.0.1:" + std::to_string(s.port()); }

    fs::path work, recv;
};

} // namespace

namespace {

// Replies as a dosimeter beams them (Windows-1251 bytes).
const std::string kParamReply = ReadAll(fs::path(DM_TEST_DATA) / "params-krt17a.txt");
const std::string kArchiveReply = ReadAll(fs::path(DM_TEST_DATA) / "archive-krt17a.txt");

// The reply a dosimeter beams for each command, written as the transfer service would:
// first under a temporary name the pickup ignores, then renamed.
void Beam(const fs::path& folder, const std::string& name, const std::string& text) {
    WriteAll(folder / (name + ".part"), text);
    fs::rename(folder / (name + ".part"), folder / name);
}

TEST_F(ExchangeCliTest, ReadParamsPrintsWhatParamsPrintsForTheSameReply) {
    WriteAll(recv / "Params.txt", "a table saved earlier"); // there before: never taken
    FakeObexServer server([&] { Beam(recv, "P0001.txt", kParamReply); });
    for (bool json : {false, true}) {
        std::vector<std::string> args{"read-params", "--link", link(server), "--recv-dir", recv.string()};
        if (json) args.push_back("--json");
        const CliRun r = RunCli(args, work);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_FALSE(fs::exists(recv / "P0001.txt")); // taken in and deleted

        WriteAll(work / "reply.txt", kParamReply);
        std::vector<std::string> same{"params", (work / "reply.txt").string()};
        if (json) same.push_back("--json");
        const CliRun expected = RunCli(same, work);
        ASSERT_EQ(expected.exitCode, 0) << expected.err;
        EXPECT_EQ(r.out, expected.out);
    }
    EXPECT_EQ(ReadAll(recv / "Params.txt"), "a table saved earlier");
    EXPECT_EQ(server.bodies(), (std::vector<std::string>(2, "get_parameters=255\r\n#\r\n")));
}

TEST_F(ExchangeCliTest, ReadParamsCarriesThePasswordWhenGroupsAreUnlocked) {
    FakeObexServer server([&] { Beam(recv, "P1.txt", kParamReply); });
    const CliRun r = RunCli({"read-params", "--link", link(server), "--recv-dir", recv.string(),
                             "--access", "5", "--lang", "ru"}, work);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(server.bodies().size(), 1u);
    EXPECT_NE(server.bodies()[0].find("mervatun"), std::string::npos);
    EXPECT_NE(r.out.find("Заводской номер"), std::string::npos);
}

TEST_F(ExchangeCliTest, ReadArchivePrintsWhatArchivePrintsForTheSameReply) {
    FakeObexServer server([&] { Beam(recv, "A17.txt", kArchiveReply); });
    const CliRun r = RunCli({"read-archive", "--link", link(server), "--recv-dir", recv.string(),
                             "--interval", "60"}, work);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    WriteAll(work / "reply.txt", kArchiveReply);
    const CliRun expected = RunCli({"archive", (work / "reply.txt").string(), "--interval", "60"}, work);
    ASSERT_EQ(expected.exitCode, 0) << expected.err;
    EXPECT_EQ(r.out, expected.out);
    EXPECT_EQ(server.bodies(), std::vector<std::string>{"get_archive\r\n"});
}

TEST_F(ExchangeCliTest, AcceptanceIsPassedOverOtherResultTextsEndTheCommand) {
    {
        FakeObexServer server([&] {
            Beam(recv, "L1.txt", "Command accepted\r\n");
            Beam(recv, "P2.txt", kParamReply);
        });
        const CliRun r = RunCli({"read-params", "--link", link(server), "--recv-dir", recv.string()}, work);
        EXPECT_EQ(r.exitCode, 0) << r.err;
    }
    {
        FakeObexServer server([&] { Beam(recv, "L2.txt", "Archive is empty\r\n"); });
        const CliRun r = RunCli({"read-archive", "--link", link(server), "--recv-dir", recv.string()}, work);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("Archive is empty"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.rfind("dosimeter-cli: ", 0), 0u) << r.err;
    }
}

TEST_F(ExchangeCliTest, NoReplyIsAConnectionInterruptedFailure) {
    FakeObexServer server(nullptr);
    const CliRun r = RunCli({"read-params", "--link", link(server), "--recv-dir", recv.string(),
                             "--timeout", "2"}, work);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Connection interrupted."), std::string::npos) << r.err;
    EXPECT_EQ(server.bodies().size(), 1u);

}

TEST_F(ExchangeCliTest, SilentPeerDoesNotOutlastTheTimeout) {
    dm::test::ObexTestPeer silent([](std::size_t, std::uint8_t) { return dm::test::PeerAction{dm::test::PeerAction::Silent, {}}; });
    const auto begin = std::chrono::steady_clock::now();
    const CliRun r = RunCli({"read-params", "--link", "tcp:127.0.0.1:" + std::to_string(silent.port()),
                             "--recv-dir", recv.string(), "--timeout", "2"}, work);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(7)); // not the link's 10 s
}

TEST_F(ExchangeCliTest, APushThatFailsEndsTheCommandAtOnceSayingWhy) {
    dm::test::ObexTestPeer hangup([](std::size_t, std::uint8_t) { return dm::test::PeerAction{dm::test::PeerAction::Hangup, {}}; });
    const std::string l = "tcp:127.0.0.1:" + std::to_string(hangup.port());
    const auto begin = std::chrono::steady_clock::now();
    const CliRun r = RunCli({"read-params", "--link", l, "--recv-dir", recv.string()}, work);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("dosimeter-cli: read-params: the push failed: " + l + ": no whole answer to CONNECT", 0), 0u)
        << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5)); // not the 14 s time-out
}

// The adapter's port closed under the program (the far end of a pseudo-terminal going
// away stands for an unplugged adapter): one line naming it and exit 1, not a hang and
// not the time-out.
TEST_F(ExchangeCliTest, APortClosedUnderTheProgramIsOneLineAndExitOne) {
    int master = -1, slave = -1;
    char name[256] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::close(slave);
    ::fcntl(master, F_SETFD, FD_CLOEXEC); // the tool must not hold the far end open itself
    std::thread closer([&] {
        // Once the tool holds the port, its far end goes.
        for (int i = 0; i < 1000 && dm::irda::SerialPortHolder(name).empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ::close(master);
    });
    const auto begin = std::chrono::steady_clock::now();
    const CliRun r = RunCli({"read-params", "--link", std::string("sir:") + name + "?dongle=direct", "--recv-dir",
                             recv.string(), "--timeout", "60"}, work);
    closer.join();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(std::string("sir:") + name), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the port is gone"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(20)); // not the 60 s time-out
}

TEST_F(ExchangeCliTest, ReceivedFilesLocationThatIsAFileIsSaidAtOnce) {
    const fs::path file = work / "not-a-folder";
    WriteAll(file, "x");
    FakeObexServer server(nullptr);
    fs::create_directories(work / "cfg" / "dosimeter-manager");
    WriteAll(work / "cfg" / "dosimeter-manager" / "infrared.ini",
             "[File Transfer]\nRecvdFilesLocation=" + file.string() + "\n");
    ::setenv("XDG_CONFIG_HOME", (work / "cfg").c_str(), 1);
    const CliRun stored = RunCli({"read-params", "--link", link(server), "--timeout", "30"}, work);
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(stored.exitCode, 1);
    EXPECT_NE(stored.err.find(file.string() + " is not a folder"), std::string::npos) << stored.err;
    EXPECT_EQ(std::count(stored.err.begin(), stored.err.end(), '\n'), 1) << stored.err;
}

TEST_F(ExchangeCliTest, NobodyListeningIsNoDosimeterInRange) {
    const CliRun r = RunCli({"read-archive", "--link", "tcp:127.0.0.1:" + std::to_string(UnusedPort()),
                             "--recv-dir", recv.string(), "--timeout", "1"}, work);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Connection interrupted."), std::string::npos) << r.err;
}

TEST_F(ExchangeCliTest, BadOptionsAreUsageErrorsBeforeAnythingIsSent) {
    FakeObexServer server(nullptr);
    const std::string l = link(server), d = recv.string();
    const std::vector<std::vector<std::string>> cases = {
        {"read-params", "--recv-dir", d},
        {"read-params", "--link", "serial:COM1", "--recv-dir", d},
        {"read-params", "--link", l, "--recv-dir", d, "--timeout", "0"},
        {"read-params", "--link", l, "--recv-dir", d, "--timeout", "ten"},
        {"read-params", "--link", l, "--recv-dir", (work / "missing").string()},
        {"read-params", "--link", l, "--recv-dir", d, "--catalogue", (work / "none.lst").string()},
        {"read-params", "--link", l, "--recv-dir", d, "extra"},
        {"read-archive", "--link", l, "--recv-dir", d, "--interval", "nan"},
        {"read-archive", "--link", l, "--recv-dir", d, "--lang", "de"},
        {"read-params", "--link", l, "--recv-dir", d, "--db", ""},
        {"read-archive", "--link", l, "--recv-dir", d, "--serial", "17-1", "--db="},
    };
    for (const auto& args : cases) {
        const CliRun r = RunCli(args, work);
        EXPECT_EQ(r.exitCode, 2) << args[args.size() - 1] << ": " << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("dosimeter-cli: ", 0), 0u) << r.err;
    }
    EXPECT_TRUE(server.bodies().empty());
}

TEST_F(ExchangeCliTest, HelpDescribesTheOptions) {
    for (const char* command : {"read-params", "read-archive"}) {
        const CliRun r = RunCli({command, "--help"}, work);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_NE(r.out.find("--recv-dir"), std::string::npos);
        EXPECT_NE(r.out.find("--timeout"), std::string::npos);
    }
}

TEST_F(ExchangeCliTest, ReadsTheSimulatedDosimeter) {
    for (const dm::Model model : {dm::Model::Krt17a, dm::Model::Mlv52b}) {
        dm::SimOptions options;
        options.records = 25;
        options.replyDelayMs = 300;
        options.catalogue = fs::path(DM_SOURCE_DIR) / "data" / "Commands.lst";
        dm::SimulatedDosimeter sim(model, recv, options);
        std::string error;
        ASSERT_TRUE(sim.start("127.0.0.1", 0, &error)) << error;
        const std::string l = "tcp:127.0.0.1:" + std::to_string(sim.port());
        const std::string name(dm::ModelName(model));

        const CliRun params = RunCli({"read-params", "--link", l, "--recv-dir", recv.string(), "--json"}, work);
        ASSERT_EQ(params.exitCode, 0) << name << ": " << params.err;
        EXPECT_NE(params.out.find("\"model\": \"" + name + "\""), std::string::npos) << params.out;

        const CliRun archive = RunCli({"read-archive", "--link", l, "--recv-dir", recv.string(), "--json"}, work);
        ASSERT_EQ(archive.exitCode, 0) << name << ": " << archive.err;
        EXPECT_NE(archive.out.find(std::string("\"has_neutron\": ") +
                                   (dm::MeasuresNeutron(model) ? "true" : "false")),
                  std::string::npos)
            << archive.out;

        // Out of range: nothing answers, the command ends with the time-out.
        sim.setInRange(false);
        const CliRun gone = RunCli({"read-params", "--link", l, "--recv-dir", recv.string(), "--timeout", "2"}, work);
        EXPECT_EQ(gone.exitCode, 1);
        EXPECT_NE(gone.err.find("Connection interrupted."), std::string::npos) << gone.err;
        sim.stop();
    }
}

TEST_F(ExchangeCliTest, WhatIsReadIsRecordedAndAFailedStoreKeepsThePrintout) {
    FakeObexServer params([&] { Beam(recv, "P5.txt", kParamReply); });
    const std::string db = "sqlite:" + (work / "records.sqlite").string();
    const CliRun stored = RunCli({"read-params", "--link", link(params), "--recv-dir", recv.string(), "--db", db}, work);
    ASSERT_EQ(stored.exitCode, 0) << stored.err;
    const CliRun readouts = RunCli({"records", "--db", db, "readouts", "--serial", "170123", "--json"}, work);
    ASSERT_EQ(readouts.exitCode, 0) << readouts.err;
    EXPECT_NE(readouts.out.find("\"baseline\""), std::string::npos) << readouts.out;

    // A database that cannot be made: the table still printed whole, then one line, exit 1.
    const CliRun failed = RunCli(
        {"read-params", "--link", link(params), "--recv-dir", recv.string(), "--db", "sqlite:/proc/none/r.sqlite"},
        work);
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.out, stored.out);
    EXPECT_EQ(std::count(failed.err.begin(), failed.err.end(), '\n'), 1) << failed.err;

    // The history is stored only under a serial given, and only of a dosimeter already read.
    FakeObexServer archive([&] { Beam(recv, "A5.txt", kArchiveReply); });
    const CliRun unknown = RunCli(
        {"read-archive", "--link", link(archive), "--recv-dir", recv.string(), "--serial", "999", "--db", db}, work);
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_NE(unknown.out.find("# dose history"), std::string::npos);
    EXPECT_NE(unknown.err.find("999"), std::string::npos) << unknown.err;
    const CliRun known = RunCli(
        {"read-archive", "--link", link(archive), "--recv-dir", recv.string(), "--serial", "170123", "--db", db}, work);
    EXPECT_EQ(known.exitCode, 0) << known.err;
}

} // namespace
