// The OBEX push against a loopback peer that records every byte.
#include "link/obex_push.h"
#include "link/tcp_transport.h"
#include "obex_test_peer.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

using test::ObexTestPeer;
using test::PeerAction;
using test::ReplyWith;
using test::StandardAnswer;

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

LinkTimeouts ShortTimeouts() {
    LinkTimeouts t;
    t.connect = std::chrono::milliseconds(2000);
    t.receive = std::chrono::milliseconds(200);
    t.send = std::chrono::milliseconds(2000);
    return t;
}

struct Push {
    PushReport report;
    std::vector<std::string> requests;
};

Push PushTo(ObexTestPeer& peer, const std::string& text) {
    TcpTransport transport("127.0.0.1", std::to_string(peer.port()), ShortTimeouts());
    Push p;
    p.report = PushCommandFile(transport, *transport.fixedDevice(), text);
    p.requests = peer.requests();
    return p;
}

TEST(ObexPackets, AreTheDocumentedBytes) {
    EXPECT_EQ(ObexConnectPacket(), Bytes({0x80, 0x00, 0x07, 0x10, 0x00, 0x80, 0x00}));
    EXPECT_EQ(ObexDisconnectPacket(), Bytes({0x81, 0x00, 0x03}));

    std::string put = Bytes({0x02, 0x00, 0x26, 0x01, 0x00, 0x1B});
    for (char c : std::string("command.txt")) {
        put += '\0';
        put += c;
    }
    put += Bytes({0x00, 0x00, 0xC3, 0x00, 0x00, 0x00, 0x19, 0x48, 0x00, 0x03});
    EXPECT_EQ(ObexFirstPutPacket("command.txt", 25), put);
    EXPECT_EQ(put.size(), 38u);

    const std::string text(25, 'x');
    const std::string final = ObexFinalPutPacket(text);
    EXPECT_EQ(final.size(), 31u);
    EXPECT_EQ(final.substr(0, 6), Bytes({0x82, 0x00, 0x1F, 0x49, 0x00, 0x1C}));
    EXPECT_EQ(final.substr(6), text);

    EXPECT_EQ(ObexFinalPutPacket(""), Bytes({0x82, 0x00, 0x06, 0x49, 0x00, 0x03}));
    // The largest text: lengths fill the 16-bit fields without wrapping.
    const std::string largest = ObexFinalPutPacket(std::string(kMaxCommandTextBytes, 'a'));
    EXPECT_EQ(largest.size(), 16384u);
    EXPECT_EQ(largest.substr(0, 6), Bytes({0x82, 0x40, 0x00, 0x49, 0x3F, 0xFD}));
    EXPECT_EQ(ObexFirstPutPacket("command.txt", kMaxCommandTextBytes).substr(31, 4),
              Bytes({0x00, 0x00, 0x3F, 0xFA}));
}

TEST(ObexPush, SendsTheFourPacketsAndReportsEachAnswer) {
    ObexTestPeer peer;
    const std::string text = "get_parameters=255\r\n#\r\n";
    const Push p = PushTo(peer, text);
    ASSERT_EQ(p.requests.size(), 4u);
    EXPECT_EQ(p.requests[0], ObexConnectPacket());
    EXPECT_EQ(p.requests[1], ObexFirstPutPacket("command.txt", text.size()));
    EXPECT_EQ(p.requests[2], ObexFinalPutPacket(text));
    EXPECT_EQ(p.requests[3], ObexDisconnectPacket());
    EXPECT_TRUE(p.report.completed);
    EXPECT_EQ(FormatPushReport(p.report), "CONNECT 0xA0\nPUT 0x90\nPUT 0xA0\nDISCONNECT 0xA0\n");
}

TEST(ObexPush, EmptyTextAndBinaryBytesTravelUnchanged) {
    ObexTestPeer peer;
    std::string text = Bytes({0x00, 0xFF, 0x0A, 0xC0, 0x0D});
    Push p = PushTo(peer, text);
    ASSERT_EQ(p.requests.size(), 4u);
    EXPECT_EQ(p.requests[2].substr(6), text);

    ObexTestPeer emptyPeer;
    p = PushTo(emptyPeer, "");
    ASSERT_EQ(p.requests.size(), 4u);
    EXPECT_EQ(p.requests[2], Bytes({0x82, 0x00, 0x06, 0x49, 0x00, 0x03}));
    EXPECT_TRUE(p.report.completed);
}

TEST(ObexPush, RefusedConnectGetsNoPut) {
    for (int code : {0xC3, 0x90, 0xA1}) {
        ObexTestPeer peer([code](std::size_t, std::uint8_t) {
            return ReplyWith(Bytes({code, 0x00, 0x03}));
        });
        const Push p = PushTo(peer, "x");
        ASSERT_EQ(p.requests.size(), 1u) << code;
        EXPECT_FALSE(p.report.completed);
        EXPECT_EQ(FormatPushReport(p.report).substr(0, 8), "CONNECT ");
    }
}

TEST(ObexPush, ContinueToTheFinalPutEndsWithoutDisconnect) {
    ObexTestPeer peer([](std::size_t i, std::uint8_t op) {
        return i == 2 ? ReplyWith(Bytes({0x90, 0x00, 0x03})) : StandardAnswer(i, op);
    });
    const Push p = PushTo(peer, "abc");
    EXPECT_EQ(p.requests.size(), 3u);
    EXPECT_FALSE(p.report.completed);
    EXPECT_EQ(FormatPushReport(p.report), "CONNECT 0xA0\nPUT 0x90\nPUT 0x90\n");
}

TEST(ObexPush, ErrorToTheFinalPutIsStillFollowedByDisconnect) {
    ObexTestPeer peer([](std::size_t i, std::uint8_t op) {
        return i == 2 ? ReplyWith(Bytes({0xC3, 0x00, 0x03})) : StandardAnswer(i, op);
    });
    const Push p = PushTo(peer, "abc");
    ASSERT_EQ(p.requests.size(), 4u);
    EXPECT_EQ(p.requests[3], ObexDisconnectPacket());
    EXPECT_TRUE(p.report.completed);
}

TEST(ObexPush, FirstPutAnswerIsNotExaminedButReadWhole) {
    // An answer with headers must not be mistaken for the next answer.
    ObexTestPeer peer([](std::size_t i, std::uint8_t op) {
        if (i == 1)
            return ReplyWith(Bytes({0xC0, 0x00, 0x08, 0xCB, 0x00, 0x00, 0x00, 0x01}));
        return StandardAnswer(i, op);
    });
    const Push p = PushTo(peer, "abc");
    ASSERT_EQ(p.requests.size(), 4u);
    EXPECT_TRUE(p.report.completed);
    EXPECT_EQ(FormatPushReport(p.report), "CONNECT 0xA0\nPUT 0xC0\nPUT 0xA0\nDISCONNECT 0xA0\n");
}

TEST(ObexPush, SilentPeerEndsByTheTimeOut) {
    for (std::size_t silentAt : {0u, 1u, 2u, 3u}) {
        ObexTestPeer peer([silentAt](std::size_t i, std::uint8_t op) {
            return i == silentAt ? PeerAction{PeerAction::Silent, {}} : StandardAnswer(i, op);
        });
        const Push p = PushTo(peer, "abc");
        EXPECT_EQ(p.requests.size(), silentAt + 1) << silentAt;
        EXPECT_EQ(p.report.completed, silentAt == 3) << silentAt;
        EXPECT_EQ(p.report.steps.size(), silentAt + 1);
        EXPECT_FALSE(p.report.steps.back().response.has_value());
    }
}

TEST(ObexPush, PeerHangingUpOrAnsweringHalfEndsThePush) {
    ObexTestPeer hangup([](std::size_t i, std::uint8_t op) {
        return i == 2 ? PeerAction{PeerAction::Hangup, {}} : StandardAnswer(i, op);
    });
    Push p = PushTo(hangup, "abc");
    EXPECT_EQ(p.requests.size(), 3u);
    EXPECT_FALSE(p.report.completed);

    // Two bytes of an answer, then nothing: the answer is incomplete, not a code.
    ObexTestPeer half([](std::size_t i, std::uint8_t op) {
        return i == 0 ? ReplyWith(Bytes({0xA0, 0x00})) : StandardAnswer(i, op);
    });
    p = PushTo(half, "abc");
    EXPECT_EQ(p.requests.size(), 1u);
    EXPECT_FALSE(p.report.completed);
    EXPECT_EQ(FormatPushReport(p.report), "");
}

TEST(ObexPush, NothingListeningOrNoDeviceSendsNothing) {
    // A port held by a socket that never listens: refused, and no other test can take it.
    const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(holder, reinterpret_cast<sockaddr*>(&a), &len);
    const std::uint16_t port = ntohs(a.sin_port);
    TcpTransport transport("127.0.0.1", std::to_string(port), ShortTimeouts());
    PushReport r = PushCommandFile(transport, *transport.fixedDevice(), "abc");
    EXPECT_FALSE(r.connected);
    EXPECT_TRUE(r.steps.empty());
    EXPECT_FALSE(r.error.empty());
    ::close(holder);

    ObexTestPeer peer;
    TcpTransport live("127.0.0.1", std::to_string(peer.port()), ShortTimeouts());
    r = PushCommandFile(live, DeviceId{}, "abc");
    EXPECT_FALSE(r.connected);
    EXPECT_EQ(peer.sessions(), 0u);
}

TEST(ObexPush, TooLongTextIsRefusedWhole) {
    ObexTestPeer peer;
    TcpTransport transport("127.0.0.1", std::to_string(peer.port()), ShortTimeouts());
    const PushReport r = PushCommandFile(transport, *transport.fixedDevice(),
                                         std::string(kMaxCommandTextBytes + 1, 'a'));
    EXPECT_TRUE(r.refused);
    EXPECT_FALSE(r.connected);
    EXPECT_EQ(peer.sessions(), 0u);

    const Push p = PushTo(peer, std::string(kMaxCommandTextBytes, 'a'));
    ASSERT_EQ(p.requests.size(), 4u);
    EXPECT_EQ(p.requests[2].size(), 16384u);
    EXPECT_TRUE(p.report.completed);
}

} // namespace
} // namespace dm
