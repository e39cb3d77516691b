// The one socket layer under the push and the simulated dosimeter, at the edges a peer
// makes: nobody listening, silence, hanging up, never reading.
#include "link/socket_io.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace dm::net {
namespace {

using namespace std::chrono_literals;

sockaddr_in LoopbackPortHeldBy(SocketHandle s) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    return a;
}

struct Pair {
    SocketHandle client = kNoSocket;
    SocketHandle server = kNoSocket;
    ~Pair() {
        CloseSocket(client);
        CloseSocket(server);
    }
};

void ConnectOverLoopback(Pair& pair) {
    const SocketHandle listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = LoopbackPortHeldBy(listener);
    ASSERT_EQ(::listen(listener, 1), 0);
    pair.client = ::socket(AF_INET, SOCK_STREAM, 0);
    std::string error;
    ASSERT_TRUE(ConnectWithTimeout(pair.client, reinterpret_cast<const sockaddr*>(&a), sizeof a,
                                   2s, &error))
        << error;
    pair.server = ::accept(listener, nullptr, nullptr);
    CloseSocket(listener);
    ASSERT_NE(pair.server, kNoSocket);
}

TEST(SocketLayer, NobodyListeningSilenceAndHangingUpEndEveryWait) {
    // A port held by a socket that never listens: refused, and the reason said.
    const SocketHandle holder = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in held = LoopbackPortHeldBy(holder);
    const SocketHandle s = ::socket(AF_INET, SOCK_STREAM, 0);
    std::string error;
    EXPECT_FALSE(ConnectWithTimeout(s, reinterpret_cast<const sockaddr*>(&held), sizeof held, 2s, &error));
    EXPECT_EQ(error, std::string("connect failed: ") + std::strerror(ECONNREFUSED));
    CloseSocket(s);
    CloseSocket(holder);

    Pair pair;
    ConnectOverLoopback(pair);
    std::uint8_t buffer[16];
    EXPECT_EQ(ReceiveSome(pair.client, buffer, sizeof buffer, 20ms), -1); // silent peer
    ASSERT_EQ(Send(pair.server, "ab", 2), 2);
    CloseSocket(pair.server);
    pair.server = kNoSocket;
    EXPECT_EQ(ReceiveSome(pair.client, buffer, sizeof buffer, 2s), 2); // what came before the end
    EXPECT_EQ(ReceiveSome(pair.client, buffer, sizeof buffer, 2s), 0);

    // Writing on to the peer that left fails; it must not raise SIGPIPE and end the program.
    const std::vector<std::uint8_t> block(1 << 20);
    bool sent = true;
    for (int i = 0; i < 8 && sent; ++i)
        sent = SendAll(pair.client, block.data(), block.size(), 2s);
    EXPECT_FALSE(sent);
}

TEST(SocketLayer, SendToAPeerThatNeverReadsGivesUpAtItsTimeOut) {
    Pair pair;
    ConnectOverLoopback(pair);
    // Far more than the loopback buffers of both ends hold.
    const std::vector<std::uint8_t> bytes(std::size_t{64} << 20);
    EXPECT_FALSE(SendAll(pair.client, bytes.data(), bytes.size(), 50ms));
}

} // namespace
} // namespace dm::net
