// The push against broken and hostile OBEX peers on loopback: silent, refusing, talking
// garbage, hanging up inside a packet, announcing more than it sends, or dribbling an
// answer byte by byte. Whatever the peer does, and at whichever step, the push ends
// within its time-outs, sends nothing out of order and crashes nothing.
#include "loopback.h"

#include "link/obex_push.h"
#include "link/transport.h"

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace dm {
namespace {

using namespace std::chrono_literals;
using faults::Listener;
using faults::Socket;

enum class Fault { Silent, Refuse, Garbage, HangUpMidPacket, LengthOverrun, Dribble };

const char* FaultName(Fault f) {
    switch (f) {
    case Fault::Silent: return "Silent";
    case Fault::Refuse: return "Refuse";
    case Fault::Garbage: return "Garbage";
    case Fault::HangUpMidPacket: return "HangUpMidPacket";
    case Fault::LengthOverrun: return "LengthOverrun";
    case Fault::Dribble: return "Dribble";
    }
    return "?";
}

constexpr std::size_t kDribbleBytes = 300;
constexpr auto kDribblePause = 20ms;

std::string StandardAnswer(std::uint8_t opcode) {
    if (opcode == 0x80)
        return std::string("\xA0\x00\x07\x10\x00\x80\x00", 7);
    if (opcode == 0x02)
        return std::string("\x90\x00\x03", 3);
    return std::string("\xA0\x00\x03", 3);
}

// Answers requests properly until request number `step`, which gets the fault.
class FaultyPeer {
public:
    FaultyPeer(Fault fault, std::size_t step, unsigned seed)
        : fault_(fault), step_(step), random_(seed) {
        thread_ = std::thread([this] { serve(); });
    }
    ~FaultyPeer() { thread_.join(); }
    std::uint16_t port() const { return listener_.port(); }
    // Valid once the push has returned (the peer sees the close and ends).
    std::vector<std::string> requests() {
        thread_.join();
        thread_ = std::thread([] {});
        return requests_;
    }
    std::size_t dribbled() const { return dribbled_.load(); }

private:
    void serve() {
        Socket client = listener_.accept(10s);
        if (!client.valid())
            return;
        for (std::size_t index = 0;; ++index) {
            const std::string request = client.receivePacket(10s);
            if (request.empty())
                return;
            requests_.push_back(request);
            if (index != step_) {
                if (!client.sendAll(StandardAnswer(static_cast<std::uint8_t>(request[0]))))
                    return;
                continue;
            }
            switch (fault_) {
            case Fault::Silent:
                waitForClose(client);
                return;
            case Fault::Refuse:
                client.sendAll(std::string("\xC3\x00\x03", 3)); // Forbidden
                continue;
            case Fault::Garbage: {
                std::string junk(1 + random_() % 200, '\0');
                for (char& c : junk)
                    c = static_cast<char>(random_());
                client.sendAll(junk);
                continue; // whatever it made of that, keep listening
            }
            case Fault::HangUpMidPacket:
                client.sendAll(StandardAnswer(static_cast<std::uint8_t>(request[0])).substr(0, 2));
                return;
            case Fault::LengthOverrun:
                client.sendAll(std::string("\xA0\xFF\xFF", 3) + std::string(10, '\x01'));
                waitForClose(client);
                return;
            case Fault::Dribble:
                client.sendAll(std::string("\xA0\xFF\xFF", 3));
                for (std::size_t i = 0; i < kDribbleBytes; ++i) {
                    std::this_thread::sleep_for(kDribblePause);
                    if (client.waitReadable(0ms) || !client.sendAll(std::string(1, 'x')))
                        return; // the push gave up and closed
                    ++dribbled_;
                }
                return;
            }
        }
    }
    static void waitForClose(const Socket& client) {
        // Drain until the push closes; bounded in case it never does.
        for (int i = 0; i < 200; ++i) {
            if (client.waitReadable(100ms) && client.receiveSome(4096, 0ms).empty())
                return;
        }
    }

    Listener listener_;
    Fault fault_;
    std::size_t step_;
    std::mt19937 random_;
    std::vector<std::string> requests_;
    std::atomic<std::size_t> dribbled_{0};
    std::thread thread_;
};

LinkTimeouts ShortTimeouts() {
    LinkTimeouts t;
    t.connect = 2000ms;
    t.send = 2000ms;
    t.receive = 200ms;
    return t;
}

struct Case {
    Fault fault;
    std::size_t step; // 0 CONNECT, 1 first PUT, 2 final PUT, 3 DISCONNECT
};

class PushAgainstFaultyPeer : public ::testing::TestWithParam<Case> {};

TEST_P(PushAgainstFaultyPeer, EndsWithoutCrashOrStrayRequest) {
    const Case c = GetParam();
    const std::string text = "get_parameters=255\r\n#\r\n";
    const std::string expected[] = {ObexConnectPacket(), ObexFirstPutPacket(kCommandFileName, text.size()),
                                    ObexFinalPutPacket(text), ObexDisconnectPacket()};
    for (unsigned seed = 1; seed <= (c.fault == Fault::Garbage ? 8u : 1u); ++seed) {
        SCOPED_TRACE(std::string(FaultName(c.fault)) + " at request " + std::to_string(c.step) +
                     ", seed " + std::to_string(seed));
        FaultyPeer peer(c.fault, c.step, seed);
        std::string error;
        auto transport = MakeTransport("tcp:127.0.0.1:" + std::to_string(peer.port()),
                                       ShortTimeouts(), &error);
        ASSERT_TRUE(transport) << error;
        const PushReport report = PushCommandFile(*transport, *transport->fixedDevice(), text);
        ASSERT_TRUE(report.connected) << report.error;
        const std::vector<std::string> requests = peer.requests();

        // Requests only ever in their order, each exactly as built.
        ASSERT_LE(requests.size(), 4u);
        for (std::size_t i = 0; i < requests.size(); ++i)
            EXPECT_EQ(requests[i], expected[i]) << "request " << i;
        const bool broken = c.fault != Fault::Refuse && c.fault != Fault::Garbage;
        if (broken) {
            // Nothing is sent after an answer that never came whole.
            EXPECT_EQ(requests.size(), c.step + 1);
            EXPECT_EQ(report.completed, c.step == 3);
            EXPECT_FALSE(report.error.empty());
        }
        if (c.fault == Fault::Refuse) {
            // A refused CONNECT stops the push; a refused first PUT is not looked at;
            // an error answer to the final PUT still gets its DISCONNECT.
            EXPECT_EQ(requests.size(), c.step == 0 ? 1u : 4u);
            EXPECT_EQ(report.completed, c.step != 0);
        }
        if (c.fault == Fault::Dribble) {
            EXPECT_LT(peer.dribbled(), kDribbleBytes)
                << "a peer dribbling one byte at a time kept the push waiting to the end";
        }
    }
}

std::vector<Case> AllCases() {
    std::vector<Case> cases;
    for (Fault f : {Fault::Silent, Fault::Refuse, Fault::Garbage, Fault::HangUpMidPacket,
                    Fault::LengthOverrun, Fault::Dribble})
        for (std::size_t step = 0; step < 4; ++step)
            cases.push_back({f, step});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryStep, PushAgainstFaultyPeer, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(FaultName(info.param.fault)) + "AtRequest" +
                                    std::to_string(info.param.step);
                         });

// A peer that accepts and closes at once, and an endpoint where nobody listens.
TEST(PushAgainstFaultyPeerConnection, HangUpBeforeAnythingAndNobodyListening) {
    {
        Listener listener;
        std::thread peer([&] { Socket s = listener.accept(10s); });
        std::string error;
        auto transport = MakeTransport("tcp:127.0.0.1:" + std::to_string(listener.port()),
                                       ShortTimeouts(), &error);
        ASSERT_TRUE(transport) << error;
        const PushReport report = PushCommandFile(*transport, *transport->fixedDevice(), "x");
        peer.join();
        EXPECT_TRUE(report.connected);
        EXPECT_FALSE(report.completed);
        EXPECT_LE(report.steps.size(), 1u);
    }
    std::uint16_t closedPort = 0;
    {
        Listener gone;
        closedPort = gone.port();
    }
    std::string error;
    auto transport = MakeTransport("tcp:127.0.0.1:" + std::to_string(closedPort), ShortTimeouts(), &error);
    ASSERT_TRUE(transport) << error;
    const PushReport report = PushCommandFile(*transport, *transport->fixedDevice(), "x");
    EXPECT_FALSE(report.connected);
    EXPECT_FALSE(report.error.empty());
    EXPECT_TRUE(report.steps.empty());
}

} // namespace
} // namespace dm
