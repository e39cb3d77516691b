// The TCP link: names, identifiers and the connect probe that stands for discovery.
#include "link/tcp_transport.h"
#include "obex_test_peer.h"

#include <gtest/gtest.h>

#include <optional>

namespace dm {
namespace {

TEST(TcpLinkName, ParsesAndRejects) {
    std::string error;
    EXPECT_NE(MakeTransport("tcp:127.0.0.1:650", &error), nullptr);
    EXPECT_NE(MakeTransport("tcp:[::1]:650", &error), nullptr);
    EXPECT_NE(MakeTransport("irda", &error), nullptr);
    for (const char* bad : {"tcp:", "tcp:host", "tcp:host:", "tcp::650", "tcp:h:0", "tcp:h:65536",
                            "tcp:h:6x", "tcp:::1:650", "tcp:[::1]650", "TCP:h:1", "ir", ""}) {
        error.clear();
        EXPECT_EQ(MakeTransport(bad, &error), nullptr) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(TcpLinkName, IdentifierIsStableNonZeroAndPerEndpoint) {
    const DeviceId a = TcpTransport::EndpointId("127.0.0.1", "650");
    EXPECT_EQ(a, TcpTransport::EndpointId("127.0.0.1", "650"));
    EXPECT_NE(a, TcpTransport::EndpointId("127.0.0.1", "651"));
    for (int port = 1; port < 3000; ++port) {
        const DeviceId id = TcpTransport::EndpointId("localhost", std::to_string(port));
        for (std::uint8_t b : id)
            ASSERT_NE(b, 0) << port;
    }
}

LinkTimeouts Fast() {
    LinkTimeouts t;
    t.probe = std::chrono::milliseconds(500);
    t.rescan = std::chrono::milliseconds(1);
    return t;
}

TEST(TcpDiscovery, ProbeListsTheEndpointWhileItAccepts) {
    std::optional<test::ObexTestPeer> peer(std::in_place);
    TcpTransport transport("127.0.0.1", std::to_string(peer->port()), Fast());
    ASSERT_EQ(transport.openDiscovery(), DiscoveryStart::Ok);
    std::vector<DeviceId> devices;
    ASSERT_TRUE(transport.enumerate(&devices));
    EXPECT_EQ(devices, std::vector<DeviceId>{*transport.fixedDevice()});

    peer.reset(); // out of range
    StopSignal stop;
    ASSERT_TRUE(transport.waitForChange(&devices, stop));
    EXPECT_TRUE(devices.empty());
}

TEST(TcpDiscovery, WaitReturnsAtOnceWhenStopped) {
    TcpTransport transport("127.0.0.1", "1", Fast());
    std::vector<DeviceId> devices{DeviceId{1, 2, 3, 4}};
    StopSignal stop;
    stop.request();
    EXPECT_TRUE(transport.waitForChange(&devices, stop));
    EXPECT_EQ(devices.size(), 1u); // untouched
}

TEST(TcpConnect, OnlyTheEndpointsOwnIdentifierConnects) {
    test::ObexTestPeer peer;
    TcpTransport transport("127.0.0.1", std::to_string(peer.port()), Fast());
    std::string error;
    EXPECT_EQ(transport.connect(DeviceId{}, "OBEX:IrXfer", &error), nullptr);
    EXPECT_EQ(transport.connect(DeviceId{1, 2, 3, 4}, "OBEX:IrXfer", &error), nullptr);
    EXPECT_NE(transport.connect(*transport.fixedDevice(), "any service", &error), nullptr);
}

} // namespace
} // namespace dm
