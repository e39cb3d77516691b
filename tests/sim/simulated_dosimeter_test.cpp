#include "sim/simulated_dosimeter.h"

#include "core/cp1251.h"
#include "core/reply_text.h"
#include "core/text_file.h"
#include "obex_test_client.h"
#include "sim/log_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sys/wait.h>

namespace dm {
namespace {

namespace fs = std::filesystem;
using test::PushLikeManager;
using test::TestConnection;

class SimServer : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/dm-sim-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
        recv_ = root_ / "recv";
    }
    void TearDown() override {
        sim_.reset();
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    SimulatedDosimeter& startSim(Model model, SimOptions options = {}) {
        options.replyDelayMs = 0;
        if (options.receiveTimeoutMs == 10000)
            options.receiveTimeoutMs = 2000;
        options.seed = 5;
        options.catalogue = fs::path(DM_SOURCE_DIR) / "data" / "Commands.lst";
        sim_ = std::make_unique<SimulatedDosimeter>(model, recv_, options);
        std::string error;
        EXPECT_TRUE(sim_->start("127.0.0.1", 0, &error)) << error;
        EXPECT_NE(sim_->port(), 0);
        return *sim_;
    }

    // Reply files in the folder: name -> text as the manager reads it.
    std::map<std::string, std::string> replies() const {
        std::map<std::string, std::string> out;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(recv_, ec))
            out[entry.path().filename().string()] =
                ReplyTextFromBytes(TryReadFile(entry.path()).value_or(""));
        return out;
    }

    static std::string LetterOf(const std::string& name) {
        std::string letters;
        for (char c : name)
            if (c == 'L' || c == 'A' || c == 'P')
                letters += c;
        return letters;
    }

    fs::path root_;
    fs::path recv_;
    std::unique_ptr<SimulatedDosimeter> sim_;
};

const std::vector<int> kFullPush{0xA0, 0x90, 0xA0, 0xA0};

TEST_F(SimServer, ManagerPushesGetRepliesWithOneLetterEach) {
    auto& sim = startSim(Model::Krt17a);
    EXPECT_EQ(PushLikeManager(sim.port(), "get_parameters=255\r\n#\r\n").codes, kFullPush);
    EXPECT_EQ(PushLikeManager(sim.port(), "get_archive\r\n").codes, kFullPush);
    EXPECT_EQ(
        PushLikeManager(sim.port(), "total_val=0\r\ntotal_time=0\r\nget_parameters=255\r\n#\r\n")
            .codes,
        kFullPush);
    EXPECT_EQ(sim.commandsHandled(), 3u);

    std::map<std::string, int> byLetter;
    for (const auto& [name, text] : replies()) {
        ASSERT_EQ(name.size() > 4 ? name.substr(name.size() - 4) : "", ".txt") << name;
        const std::string letters = LetterOf(name);
        ASSERT_EQ(letters.size(), 1u) << name;
        ++byLetter[letters];
        if (letters == "P") {
            EXPECT_NE(text.find("dose_neutron = "), std::string::npos);
        } else if (letters == "A") {
            EXPECT_NE(text.find('\t'), std::string::npos);
        } else {
            EXPECT_NE(text.find("accepted"), std::string::npos);
        }
    }
    EXPECT_EQ(byLetter["P"], 2);
    EXPECT_EQ(byLetter["A"], 1);
    EXPECT_EQ(byLetter["L"], 1);
}

TEST_F(SimServer, RepliesAreWindows1251WithCrLf) {
    auto& sim = startSim(Model::Mlv52b);
    const std::string file = Utf8ToCp1251("userinfo = \"Сидоров\"\r\nget_parameters=255\r\n#\r\n");
    ASSERT_EQ(PushLikeManager(sim.port(), file).codes, kFullPush);
    bool sawParameters = false;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(recv_, ec)) {
        const std::string bytes = TryReadFile(entry.path()).value_or("");
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i] == '\n') {
                ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r');
            }
        }
        if (LetterOf(entry.path().filename().string()) == "P") {
            sawParameters = true;
            EXPECT_NE(bytes.find(Utf8ToCp1251("userinfo = \"Сидоров\"")), std::string::npos);
            EXPECT_EQ(bytes.find("neutr"), std::string::npos);
        }
    }
    EXPECT_TRUE(sawParameters);
}

TEST_F(SimServer, RepliesWaitForTheirDelay) {
    SimOptions options;
    auto& sim = startSim(Model::Krt17a, options);
    // Restart with a long delay: the reply is not there when the push ends, and stopping
    // beams it rather than losing it.
    sim.stop();
    options.replyDelayMs = 60000;
    options.seed = 5;
    sim_ = std::make_unique<SimulatedDosimeter>(Model::Krt17a, recv_, options);
    ASSERT_TRUE(sim_->start("127.0.0.1", 0, nullptr));
    ASSERT_EQ(PushLikeManager(sim_->port(), "get_archive\r\n").codes, kFullPush);
    EXPECT_TRUE(replies().empty());
    sim_->stop();
    ASSERT_EQ(replies().size(), 1u);
    EXPECT_EQ(LetterOf(replies().begin()->first), "A");
}

TEST_F(SimServer, GarbageAndLyingPacketsLeaveTheServerServing) {
    SimOptions options;
    options.receiveTimeoutMs = 300;
    auto& sim = startSim(Model::Mlv52b, options);
    {
        // A length below three: Bad Request, then the connection is closed.
        TestConnection c(sim.port());
        ASSERT_TRUE(c.send(std::string("\x80\x00\x01", 3)));
        auto got = c.receive(16);
        ASSERT_TRUE(got && !got->empty());
        EXPECT_EQ(static_cast<unsigned char>((*got)[0]), 0xC0);
        EXPECT_TRUE(c.closedByPeer());
    }
    {
        // A length larger than what arrives: dropped after the receive time-out.
        TestConnection c(sim.port());
        ASSERT_TRUE(c.send(std::string("\x82\xFF\xF0\x49\x00\x10", 6)));
        EXPECT_TRUE(c.closedByPeer());
    }
    {
        // Random bytes of valid length: error codes, never a crash.
        TestConnection c(sim.port());
        ASSERT_TRUE(c.send(std::string("\x42\x00\x05\xDE\xAD", 5)));
        auto got = c.receive(16);
        ASSERT_TRUE(got && !got->empty());
        EXPECT_EQ(static_cast<unsigned char>((*got)[0]), 0xC0);
        ASSERT_TRUE(c.send(std::string("\x83\x00\x03", 3)));
        got = c.receive(16);
        ASSERT_TRUE(got && !got->empty());
        EXPECT_EQ(static_cast<unsigned char>((*got)[0]), 0xD1);
    }
    {
        // A client that connects and says nothing, then one that hangs up at once.
        TestConnection silent(sim.port());
        EXPECT_TRUE(silent.closedByPeer());
        TestConnection rude(sim.port());
    }
    {
        // A push cut off after the first PUT.
        TestConnection c(sim.port());
        c.send(test::ConnectPacket());
        c.receive(32768);
        c.send(test::FirstPutPacket("command.txt", 23));
        c.receive(3);
    }
    EXPECT_EQ(PushLikeManager(sim.port(), "get_parameters=255\r\n#\r\n").codes, kFullPush);
    EXPECT_EQ(sim.commandsHandled(), 1u);
    EXPECT_EQ(replies().size(), 1u);
}

TEST_F(SimServer, OtherFilesAreTakenButNotActedOn) {
    auto& sim = startSim(Model::Krt17a);
    EXPECT_EQ(PushLikeManager(sim.port(), "get_parameters=255\r\n", "photo.jpg").codes, kFullPush);
    EXPECT_EQ(sim.commandsHandled(), 0u);
    EXPECT_TRUE(replies().empty());
}

TEST_F(SimServer, ClientChosenNamesAreLoggedEscapedAndCut) {
    std::mutex mutex;
    std::vector<std::string> lines;
    SimOptions options;
    options.log = [&](const std::string& line) {
        std::lock_guard lock(mutex);
        lines.push_back(line);
    };
    auto& sim = startSim(Model::Krt17a, options);
    const std::string name = "evil\r\nbeamed P0001.txt\x1B[2J\t\"" + std::string(5000, 'n');
    EXPECT_EQ(PushLikeManager(sim.port(), "get_archive\r\n", name).codes, kFullPush);
    sim.stop();
    std::lock_guard lock(mutex);
    std::string ignored;
    for (const auto& line : lines) {
        for (char c : line)
            EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F) << line;
        if (line.find("not a command file") != std::string::npos)
            ignored = line;
    }
    EXPECT_NE(ignored.find("\"evil\\r\\nbeamed P0001.txt\\x1B[2J\\t\\\"nnn"), std::string::npos)
        << ignored;
    EXPECT_NE(ignored.find("nnn\"... (5028 characters)"), std::string::npos) << ignored;
    EXPECT_LT(ignored.size(), 200u) << ignored;
}

TEST(QuotedForLog, EscapesWhatAReaderCannotSeeAndCutsOnCharacters) {
    EXPECT_EQ(QuotedForLog("command.txt"), "\"command.txt\"");
    EXPECT_EQ(QuotedForLog(""), "\"\"");
    EXPECT_EQ(QuotedForLog("a\\b\x7F\x01"), "\"a\\\\b\\x7F\\x01\"");
    // Cyrillic stays; C1 controls, line separators and direction overrides do not.
    EXPECT_EQ(QuotedForLog("Доза\u0085\u2028\u202Etxt.exe"),
              "\"Доза\\u0085\\u2028\\u202Etxt.exe\"");
    // Bytes that are not UTF-8, including a character cut short at the end.
    EXPECT_EQ(QuotedForLog("\xFF\xD0"), "\"\\xFF\\xD0\"");
    // Exactly at the limit nothing is cut; one more character is, never inside one.
    EXPECT_EQ(QuotedForLog("абв", 3), "\"абв\"");
    EXPECT_EQ(QuotedForLog("абвг", 3), "\"абв\"... (4 characters)");
}

TEST_F(SimServer, OutOfRangeRefusesConnectionsUntilBackOnTheSamePort) {
    auto& sim = startSim(Model::Krt17a);
    const std::uint16_t port = sim.port();
    EXPECT_TRUE(sim.inRange());
    sim.setInRange(false);
    EXPECT_FALSE(sim.inRange());
    EXPECT_FALSE(TestConnection(port).valid());
    sim.setInRange(false); // twice is harmless
    sim.setInRange(true);
    EXPECT_TRUE(sim.inRange());
    EXPECT_EQ(sim.port(), port);
    EXPECT_EQ(PushLikeManager(port, "get_parameters=255\r\n#\r\n").codes, kFullPush);
}

TEST_F(SimServer, LeavingRangeOrStoppingDropsAConnectionInProgress) {
    SimOptions options;
    options.receiveTimeoutMs = 60000;
    auto& sim = startSim(Model::Krt17a, options);
    TestConnection held(sim.port());
    ASSERT_TRUE(held.send(test::ConnectPacket()));
    ASSERT_TRUE(held.receive(32768));
    sim.setInRange(false);
    EXPECT_TRUE(held.closedByPeer());
    sim.setInRange(true);
    TestConnection second(sim.port());
    ASSERT_TRUE(second.send(test::ConnectPacket()));
    ASSERT_TRUE(second.receive(32768));
    sim.stop(); // must not wait for the silent client's time-out
    EXPECT_TRUE(second.closedByPeer());
    EXPECT_FALSE(sim.inRange());
}

TEST_F(SimServer, StateIsSavedAndUsedByTheNextRun) {
    SimOptions options;
    options.stateFile = root_ / "sim.state";
    options.records = 7;
    {
        auto& sim = startSim(Model::Mlv52b, options);
        ASSERT_EQ(PushLikeManager(sim.port(), "userinfo = \"kept\"\r\n").codes, kFullPush);
        sim.stop();
        EXPECT_TRUE(sim.stateError().empty());
    }
    ASSERT_TRUE(fs::exists(options.stateFile));
    options.records = 0; // a loaded state keeps its own history
    auto& sim = startSim(Model::Mlv52b, options);
    ASSERT_EQ(PushLikeManager(sim.port(), "get_parameters=255\r\n#\r\n").codes, kFullPush);
    std::string parameters;
    for (const auto& [name, text] : replies())
        if (LetterOf(name) == "P")
            parameters = text;
    EXPECT_NE(parameters.find("userinfo = \"kept\""), std::string::npos);
    EXPECT_NE(parameters.find("history_depth_gma = 7"), std::string::npos);
}

TEST_F(SimServer, DamagedStateStopsTheStartWithAReason) {
    SimOptions options;
    options.stateFile = root_ / "broken.state";
    std::ofstream(options.stateFile) << "dosimeter-simulator-state 1\nmodel KRT-17A\nclock ???\n";
    SimulatedDosimeter sim(Model::Krt17a, recv_, options);
    std::string error;
    EXPECT_FALSE(sim.start("127.0.0.1", 0, &error));
    EXPECT_NE(error.find("broken.state"), std::string::npos) << error;
    EXPECT_NE(error.find("line 3"), std::string::npos) << error;
    // The damaged file is left for the user to look at.
    EXPECT_TRUE(fs::exists(options.stateFile));
}

TEST_F(SimServer, BusyPortIsReported) {
    auto& sim = startSim(Model::Krt17a);
    SimulatedDosimeter second(Model::Krt17a, recv_, {});
    std::string error;
    EXPECT_FALSE(second.start("127.0.0.1", sim.port(), &error));
    EXPECT_NE(error.find("cannot listen on 127.0.0.1:" + std::to_string(sim.port())),
              std::string::npos)
        << error;
}

TEST_F(SimServer, ObexftpClientPushIsAccepted) {
    if (std::system("command -v obexftp >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "obexftp is not installed; interoperability not checked";
    auto& sim = startSim(Model::Krt17a);
    const fs::path file = root_ / "command.txt";
    std::ofstream(file, std::ios::binary) << "get_parameters=255\r\n#\r\n";
    const std::string cmd = "cd '" + root_.string() +
                            "' && timeout 30 obexftp -n 127.0.0.1:" + std::to_string(sim.port()) +
                            " -U none -H -S -p command.txt >/dev/null 2>&1";
    const int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    // obexftp ends a successful push with exit status 255.
    EXPECT_TRUE(WEXITSTATUS(status) == 255 || WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
    EXPECT_EQ(sim.commandsHandled(), 1u);
    ASSERT_EQ(replies().size(), 1u);
    EXPECT_EQ(LetterOf(replies().begin()->first), "P");
}

} // namespace
} // namespace dm
