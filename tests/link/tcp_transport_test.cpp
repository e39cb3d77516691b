// The TCP link: names, identifiers and the connect probe that stands for discovery.
#include "link/device_link.h"
#include "link/tcp_transport.h"
#include "obex_test_peer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

namespace dm {
namespace {

TEST(TcpLinkName, ParsesAndRejects) {
    std::string error;
    EXPECT_NE(MakeTransport("tcp:127.0.0.1:650", &error), nullptr);
    EXPECT_NE(MakeTransport("tcp:[::1]:650", &error), nullptr);
    ::setenv("DOSIMETER_ADAPTERS_ROOT", (::testing::TempDir() + "/no-adapters").c_str(), 1); // no real port
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

class QuietSink : public MessageSink {
public:
    void showMessage(const std::string&) override { ++count; }
    std::atomic<int> count{0};
};

// Waits (bounded) until the link reports the wanted status; the statuses read on the
// way are returned too, so a consumed event is not lost to the test.
std::vector<int> WaitForStatus(DeviceLink& link, int wanted) {
    std::vector<int> seen;
    for (int i = 0; i < 1000; ++i) {
        const int s = link.takeLinkStatus();
        if (seen.empty() || seen.back() != s)
            seen.push_back(s);
        if (s == wanted)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return seen;
}

TEST(TcpLink, DiscoveredPeerReceivesThePushAndLeavingIsSeen) {
    std::optional<test::ObexTestPeer> peer(std::in_place);
    const std::string link = "tcp:127.0.0.1:" + std::to_string(peer->port());
    std::string error;
    std::unique_ptr<Transport> transport = MakeTransport(link, Fast(), &error);
    ASSERT_TRUE(transport) << error;
    QuietSink sink;
    FixedFolderStore store(::testing::TempDir());
    DeviceLink irda(std::move(transport), store, sink);

    EXPECT_EQ(WaitForStatus(irda, LINK_ARRIVED).back(), LINK_ARRIVED);
    EXPECT_EQ(irda.takeLinkStatus(), LINK_PRESENT);
    const PushReport report = irda.sendCommandFile("get_archive\r\n");
    EXPECT_TRUE(report.completed) << report.error;
    const std::vector<std::string> requests = peer->recorded();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[2], ObexFinalPutPacket("get_archive\r\n"));

    peer.reset();
    EXPECT_EQ(WaitForStatus(irda, LINK_GONE).back(), LINK_GONE);
    EXPECT_EQ(irda.takeLinkStatus(), LINK_NONE);
    EXPECT_FALSE(irda.sendCommandFile("x").connected); // no device: nothing sent
    EXPECT_EQ(sink.count, 0);
}

} // namespace
} // namespace dm
