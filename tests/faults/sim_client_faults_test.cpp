// The simulated dosimeter against broken and hostile clients on loopback: after each one
// it still answers a proper push from the manager and beams its reply.
#include "loopback.h"

#include "link/obex_push.h"
#include "link/transport.h"
#include "sim/simulated_dosimeter.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <mutex>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include <thread>

namespace dm {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using faults::ConnectLoopback;
using faults::Socket;

std::string Be16(std::size_t v) {
    return std::string{static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)};
}
std::string Packet(std::uint8_t opcode, const std::string& body) {
    return std::string(1, static_cast<char>(opcode)) + Be16(body.size() + 3) + body;
}
const std::string kConnect = std::string("\x80\x00\x07\x10\x00\x80\x00", 7);

class SimAgainstFaultyClients : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("dm-faults-sim-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_);
        startSim([](SimOptions&) {});
    }
    void startSim(const std::function<void(SimOptions&)>& tweak) {
        sim_.reset();
        SimOptions options;
        options.records = 10;
        options.replyDelayMs = 0;
        options.receiveTimeoutMs = 300;
        options.seed = 3;
        options.catalogue = fs::path(DM_SOURCE_DIR) / "data" / "Commands.lst";
        options.log = [this](const std::string& line) {
            std::lock_guard lock(logMutex_);
            log_ += line + "\n";
        };
        tweak(options);
        sim_ = std::make_unique<SimulatedDosimeter>(Model::Krt17a, root_ / "recv", options);
        std::string error;
        ASSERT_TRUE(sim_->start("127.0.0.1", 0, &error)) << error;
    }
    std::string log() {
        std::lock_guard lock(logMutex_);
        return log_;
    }
    void TearDown() override {
        sim_.reset();
        fs::remove_all(root_);
    }

    // The manager's own push of a parameter request: answered whole, and the
    // parameter reply lands in the folder. A simulator still busy dropping a bad client
    // may need more than one attempt; `attempts` bounds them.
    void expectStillServing(const std::string& after, int attempts = 1) {
        SCOPED_TRACE("after " + after);
        LinkTimeouts t;
        t.connect = 3000ms;
        t.send = 3000ms;
        t.receive = 3000ms;
        std::string error;
        auto transport = MakeTransport("tcp:127.0.0.1:" + std::to_string(sim_->port()), t, &error);
        ASSERT_TRUE(transport) << error;
        const std::size_t handled = sim_->commandsHandled();
        PushReport report;
        for (int i = 0; i < attempts && !report.completed; ++i) {
            if (i > 0) // a loaded machine may take a while to show the simulator a hang-up
                std::this_thread::sleep_for(300ms);
            report = PushCommandFile(*transport, *transport->fixedDevice(), "get_parameters=255\r\n#\r\n");
        }
        EXPECT_TRUE(report.completed) << report.error;
        EXPECT_EQ(sim_->commandsHandled(), handled + 1);
        bool parameterReply = false;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(root_ / "recv", ec)) {
            parameterReply |= entry.path().filename().string().find('P') != std::string::npos;
            fs::remove(entry.path(), ec);
        }
        EXPECT_TRUE(parameterReply);
    }

    // Waits until the simulator closes the connection; false when it did not within
    // a generous bound.
    static bool droppedBySim(const Socket& s) {
        for (int i = 0; i < 100; ++i) {
            if (!s.waitReadable(100ms))
                continue;
            char buffer[4096];
            const ssize_t n = ::recv(s.fd(), buffer, sizeof buffer, 0);
            if (n <= 0)
                return true;
        }
        return false;
    }

    fs::path root_;
    std::mutex logMutex_;
    std::string log_;
    std::unique_ptr<SimulatedDosimeter> sim_;
};

TEST_F(SimAgainstFaultyClients, BrokenConnectionsAndPackets) {
    expectStillServing("nothing");
    {
        Socket s = ConnectLoopback(sim_->port());
        ASSERT_TRUE(s.valid());
    }
    expectStillServing("a client hanging up at once");
    {
        Socket s = ConnectLoopback(sim_->port());
        EXPECT_TRUE(droppedBySim(s));
    }
    expectStillServing("a silent client");
    {
        Socket s = ConnectLoopback(sim_->port());
        s.sendAll(std::string("\x80\x00\x01", 3));
        const std::string answer = s.receiveExactly(3, 3s);
        ASSERT_EQ(answer.size(), 3u);
        EXPECT_GE(static_cast<unsigned char>(answer[0]), 0xC0);
        EXPECT_TRUE(droppedBySim(s));
    }
    expectStillServing("a packet length below 3");
    {
        Socket s = ConnectLoopback(sim_->port());
        s.sendAll(std::string("\x80\xFF\xFF", 3) + std::string(10, '\x10'));
        EXPECT_TRUE(droppedBySim(s));
    }
    expectStillServing("a packet longer than what arrives");
    {
        Socket s = ConnectLoopback(sim_->port());
        s.sendAll(kConnect.substr(0, 2));
    }
    expectStillServing("a hang-up inside a packet header");
    {
        Socket s = ConnectLoopback(sim_->port());
        s.sendAll(kConnect);
        s.receivePacket(3s);
        s.sendAll(Packet(0x02, std::string("\x01\x00\x1B", 3)).substr(0, 5));
    }
    expectStillServing("a hang-up inside a PUT");
    {
        // A packet header, then one byte at a time, slower than the packet may take.
        Socket s = ConnectLoopback(sim_->port());
        s.sendAll(std::string("\x82\x01\x00", 3));
        bool dropped = false;
        for (int i = 0; i < 200 && !dropped; ++i) {
            std::this_thread::sleep_for(20ms);
            dropped = !s.sendAll("x") || (s.waitReadable(0ms) && s.receiveSome(16, 0ms).empty());
        }
        EXPECT_TRUE(dropped) << "a client dribbling a packet held the simulator";
    }
    expectStillServing("a dribbling client");
}

TEST_F(SimAgainstFaultyClients, IdleAndDribblingClientsDoNotLockOutAPush) {
    // Idle clients may wait far longer than the push may take; a packet must be whole
    // within 300 ms.
    startSim([](SimOptions& o) {
        o.receiveTimeoutMs = 60000;
        o.packetTimeoutMs = 300;
    });
    std::vector<Socket> idle;
    for (int i = 0; i < 50; ++i) {
        Socket s = ConnectLoopback(sim_->port());
        ASSERT_TRUE(s.valid()) << i;
        if (i % 2) { // half of them inside an OBEX session, half never said a word
            s.sendAll(kConnect);
            ASSERT_EQ(s.receivePacket(3s).substr(0, 1), "\xA0") << i;
        }
        idle.push_back(std::move(s));
    }
    Socket dribbler = ConnectLoopback(sim_->port());
    ASSERT_TRUE(dribbler.sendAll(std::string("\x82\x01\x00", 3) + "x"));
    expectStillServing("50 idle connections and a dribbling client");

    bool dropped = false;
    for (int i = 0; i < 500 && !dropped; ++i) {
        std::this_thread::sleep_for(20ms);
        dropped = !dribbler.sendAll("x") ||
                  (dribbler.waitReadable(0ms) && dribbler.receiveSome(16, 0ms).empty());
    }
    EXPECT_TRUE(dropped) << "a client dribbling its packet was never cut off";
    EXPECT_NE(log().find("packet not whole within 300 ms"), std::string::npos) << log();

    // The idle ones were left alone: two inside their sessions push at the same time,
    // packet for packet, and each command is acted on whole.
    const auto request = [](Socket& s, std::uint8_t opcode, const std::string& headers) {
        s.sendAll(Packet(opcode, headers));
        return s.receivePacket(3s).substr(0, 1);
    };
    const auto body = [](const std::string& text) { return "\x49" + Be16(3 + text.size()) + text; };
    std::string name = "\x01" + Be16(3 + 24);
    for (char c : std::string("command.txt"))
        name += std::string{'\0', c};
    name += std::string(2, '\0');
    const std::size_t handled = sim_->commandsHandled();
    EXPECT_EQ(request(idle[1], 0x02, name), "\x90");
    EXPECT_EQ(request(idle[3], 0x02, name), "\x90");
    EXPECT_EQ(request(idle[1], 0x82, body("get_archive\r\n")), "\xA0");
    EXPECT_EQ(request(idle[3], 0x82, body("get_parameters=255\r\n#\r\n")), "\xA0");
    EXPECT_EQ(sim_->commandsHandled(), handled + 2);
    std::string letters;
    for (const auto& entry : fs::directory_iterator(root_ / "recv"))
        letters += entry.path().filename().string().substr(0, 1);
    std::sort(letters.begin(), letters.end());
    EXPECT_EQ(letters, "AP");
}

TEST_F(SimAgainstFaultyClients, ConnectionsBeyondTheBoundAreClosedAtOnce) {
    startSim([](SimOptions& o) {
        o.receiveTimeoutMs = 60000;
        o.maxConnections = 3;
    });
    std::vector<Socket> held;
    for (int i = 0; i < 3; ++i) {
        held.push_back(ConnectLoopback(sim_->port()));
        held.back().sendAll(kConnect); // answered: accepted and served
        ASSERT_EQ(held.back().receivePacket(3s).substr(0, 1), "\xA0") << i;
    }
    Socket excess = ConnectLoopback(sim_->port());
    EXPECT_TRUE(droppedBySim(excess));
    EXPECT_NE(log().find("connection refused: already serving 3 clients"), std::string::npos)
        << log();
    // One leaves: its place is free for the next push (its hang-up and the push's
    // connection may reach the simulator in either order).
    held.pop_back();
    expectStillServing("a held connection closed", 5);
}

TEST_F(SimAgainstFaultyClients, MalformedRequests) {
    const std::string name = std::string("\x00\x63\x00\x6F\x00\x6D\x00\x00", 8); // "com"
    const std::vector<std::pair<std::string, std::string>> sessions{
        {"PUT without CONNECT", Packet(0x82, "\x49" + Be16(3 + 4) + "abcd")},
        {"unknown opcode", kConnect + Packet(0x07, "xyz")},
        {"ABORT with nothing to abort", kConnect + Packet(0xFF, "")},
        {"header longer than its packet", kConnect + Packet(0x02, "\x01\xFF\xF0")},
        {"header length below its own size", kConnect + Packet(0x02, std::string("\x01\x00\x01", 3))},
        {"odd-length name", kConnect + Packet(0x02, "\x01" + Be16(3 + 3) + "abc")},
        {"Length header cut", kConnect + Packet(0x02, std::string("\xC3\x00", 2))},
        {"body past the announced length",
         kConnect + Packet(0x02, "\x01" + Be16(3 + name.size()) + name + "\xC3" + Be16(0) + Be16(2)) +
             Packet(0x82, "\x49" + Be16(3 + 5000) + std::string(5000, 'z'))},
        {"final PUT without a name", kConnect + Packet(0x82, "\x49" + Be16(3 + 3) + "abc")},
        {"second CONNECT inside a PUT",
         kConnect + Packet(0x02, "\x01" + Be16(3 + name.size()) + name) + kConnect},
        {"DISCONNECT inside a PUT",
         kConnect + Packet(0x02, "\x01" + Be16(3 + name.size()) + name) + Packet(0x81, "")},
    };
    for (const auto& [what, bytes] : sessions) {
        {
            Socket s = ConnectLoopback(sim_->port());
            ASSERT_TRUE(s.valid());
            s.sendAll(bytes);
            // Read whatever comes back until the simulator closes or goes quiet.
            while (!s.receiveSome(65536, 500ms).empty()) {
            }
        }
        expectStillServing(what);
    }
}

TEST_F(SimAgainstFaultyClients, RandomRequestsAndAClientThatNeverReads) {
    std::mt19937 random(::testing::UnitTest::GetInstance()->random_seed());
    for (int session = 0; session < 40; ++session) {
        Socket s = ConnectLoopback(sim_->port());
        ASSERT_TRUE(s.valid());
        std::string bytes = session % 2 ? kConnect : std::string();
        const int packets = 1 + static_cast<int>(random() % 6);
        for (int p = 0; p < packets; ++p) {
            std::string body(random() % 300, '\0');
            for (char& c : body)
                c = static_cast<char>(random());
            static const std::uint8_t opcodes[] = {0x80, 0x81, 0x02, 0x82, 0xFF, 0x03, 0x85};
            bytes += Packet(opcodes[random() % sizeof opcodes], body);
        }
        s.sendAll(bytes);
        while (!s.receiveSome(65536, 300ms).empty()) {
        }
    }
    expectStillServing("random requests");

    // Requests without end while never reading an answer: the simulator must give up on
    // this client rather than block on it.
    {
        Socket s = ConnectLoopback(sim_->port());
        ASSERT_TRUE(s.valid());
        std::string flood;
        for (int i = 0; i < 4096; ++i)
            flood += kConnect;
        bool stuck = false;
        for (int i = 0; i < 2000 && !stuck; ++i) {
            const ssize_t n = ::send(s.fd(), flood.data(), flood.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
            stuck = n < 0;
        }
        EXPECT_TRUE(stuck) << "the client's sending never backed up";
        // Still holding the connection open and unread, the next client must be served
        // once the simulator's time-out dropped this one (it first answers what it has
        // already taken in, which a slow build may not finish within one push).
        expectStillServing("a client that never reads", 10);
    }
}

} // namespace
} // namespace dm
