#include "sim/obex_session.h"

#include "obex_test_client.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

using test::BodyHeader;
using test::FinalPutPacket;
using test::FirstPutPacket;
using test::NameHeader;
using test::Packet;

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

TEST(ObexSession, ManagerPushIsAnsweredAndDeliversTheText) {
    ObexServerSession session;
    const std::string text = "get_parameters=255\r\n#\r\n";

    const ObexStep connect = session.handlePacket(test::ConnectPacket());
    EXPECT_EQ(connect.response, Bytes({0xA0, 0x00, 0x07, 0x10, 0x00, 0x40, 0x00}));
    EXPECT_FALSE(connect.closeAfter);

    // The manager reads this response as at most three bytes: it must be exactly three.
    const ObexStep first = session.handlePacket(FirstPutPacket("command.txt", text.size()));
    EXPECT_EQ(first.response, Bytes({0x90, 0x00, 0x03}));
    EXPECT_FALSE(first.received);

    const ObexStep final = session.handlePacket(FinalPutPacket(text));
    EXPECT_EQ(final.response, Bytes({0xA0, 0x00, 0x03}));
    ASSERT_TRUE(final.received);
    EXPECT_EQ(final.received->name, "command.txt");
    EXPECT_EQ(final.received->body, text);
    EXPECT_EQ(final.received->declaredLength, text.size());

    const ObexStep bye = session.handlePacket(test::DisconnectPacket());
    EXPECT_EQ(bye.response, Bytes({0xA0, 0x00, 0x03}));
    EXPECT_TRUE(bye.closeAfter);
}

TEST(ObexSession, BodyInFirstPutAndEmptyEndOfBodyAreJoined) {
    // The way obexftp sends a small file: data in Body, then an empty End-of-Body.
    ObexServerSession session;
    session.handlePacket(test::ConnectPacket());
    const ObexStep first = session.handlePacket(
        Packet(0x02, NameHeader("command.txt") + BodyHeader("get_arch", false)));
    EXPECT_EQ(static_cast<unsigned char>(first.response[0]), 0x90);
    session.handlePacket(Packet(0x02, BodyHeader("ive\r\n", false)));
    const ObexStep final = session.handlePacket(Packet(0x82, BodyHeader("", true)));
    ASSERT_TRUE(final.received);
    EXPECT_EQ(final.received->body, "get_archive\r\n");
    EXPECT_FALSE(final.received->declaredLength);
}

TEST(ObexSession, EmptyTextAndDeleteRequest) {
    ObexServerSession session;
    // A zero-byte text still arrives as an (empty) object.
    session.handlePacket(FirstPutPacket("command.txt", 0));
    const ObexStep empty = session.handlePacket(Bytes({0x82, 0x00, 0x06, 0x49, 0x00, 0x03}));
    ASSERT_TRUE(empty.received);
    EXPECT_TRUE(empty.received->body.empty());
    // A final PUT with no body headers at all deletes; there is nothing to act on.
    const ObexStep del = session.handlePacket(Packet(0x82, NameHeader("command.txt")));
    EXPECT_EQ(static_cast<unsigned char>(del.response[0]), 0xA0);
    EXPECT_FALSE(del.received);
}

TEST(ObexSession, UnhandledAndMalformedRequestsGetErrorCodes) {
    ObexServerSession session;
    // GET and SETPATH are not offered.
    EXPECT_EQ(session.handlePacket(Bytes({0x83, 0x00, 0x03})).response, Bytes({0xD1, 0x00, 0x03}));
    EXPECT_EQ(session.handlePacket(Bytes({0x85, 0x00, 0x05, 0x00, 0x00})).response[0],
              static_cast<char>(0xD1));
    // An opcode nobody defines.
    EXPECT_EQ(session.handlePacket(Bytes({0x42, 0x00, 0x03})).response[0], static_cast<char>(0xC0));
    // A CONNECT too short to hold its fields.
    EXPECT_EQ(session.handlePacket(Bytes({0x80, 0x00, 0x03})).response[0], static_cast<char>(0xC0));
    // A packet whose length field disagrees with its size closes the connection.
    const ObexStep lying = session.handlePacket(Bytes({0x82, 0x00, 0x09, 0x49}));
    EXPECT_EQ(lying.response[0], static_cast<char>(0xC0));
    EXPECT_TRUE(lying.closeAfter);
}

TEST(ObexSession, BadHeadersDropThePutButKeepTheSession) {
    ObexServerSession session;
    session.handlePacket(FirstPutPacket("command.txt", 4));
    // A header claiming more bytes than the packet holds.
    const ObexStep overrun =
        session.handlePacket(Bytes({0x82, 0x00, 0x08, 0x49, 0x00, 0x20, 'a', 'b'}));
    EXPECT_EQ(overrun.response[0], static_cast<char>(0xC0));
    EXPECT_FALSE(overrun.received);
    // A header length below its own three bytes.
    EXPECT_EQ(session.handlePacket(Bytes({0x82, 0x00, 0x06, 0x48, 0x00, 0x01})).response[0],
              static_cast<char>(0xC0));
    // A four-byte header cut short.
    EXPECT_EQ(session.handlePacket(Bytes({0x02, 0x00, 0x05, 0xC3, 0x00})).response[0],
              static_cast<char>(0xC0));
    // The half-received object was dropped: the next push starts clean.
    session.handlePacket(FirstPutPacket("command.txt", 2));
    const ObexStep next = session.handlePacket(FinalPutPacket("ok"));
    ASSERT_TRUE(next.received);
    EXPECT_EQ(next.received->body, "ok");
}

TEST(ObexSession, AbortDropsThePut) {
    ObexServerSession session;
    session.handlePacket(Packet(0x02, NameHeader("command.txt") + BodyHeader("stale", false)));
    EXPECT_EQ(session.handlePacket(Bytes({0xFF, 0x00, 0x03})).response[0], static_cast<char>(0xA0));
    const ObexStep final =
        session.handlePacket(Packet(0x82, NameHeader("command.txt") + BodyHeader("new", true)));
    ASSERT_TRUE(final.received);
    EXPECT_EQ(final.received->body, "new");
}

TEST(ObexSession, ObjectsAboveTheCapAreRefused) {
    ObexServerSession session(0x4000, 10);
    EXPECT_EQ(session.handlePacket(Packet(0x02, BodyHeader("0123456789", false))).response[0],
              static_cast<char>(0x90));
    const ObexStep over = session.handlePacket(Packet(0x82, BodyHeader("x", true)));
    EXPECT_EQ(over.response[0], static_cast<char>(0xCD));
    EXPECT_TRUE(over.closeAfter);
    EXPECT_FALSE(over.received);
}

TEST(ObexSession, PacketLengthFromHeader) {
    EXPECT_EQ(ObexServerSession::PacketLength(Bytes({0x80, 0x00, 0x07})), 7u);
    EXPECT_EQ(ObexServerSession::PacketLength(Bytes({0x80, 0xFF, 0xFF})), 65535u);
    EXPECT_FALSE(ObexServerSession::PacketLength(Bytes({0x80, 0x00, 0x02})));
    EXPECT_FALSE(ObexServerSession::PacketLength(Bytes({0x80, 0x00})));
}

} // namespace
} // namespace dm
