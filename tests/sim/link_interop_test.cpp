// The simulator with the manager's own device link: its TCP transport, its push and its
// received-files pickup.
#include "sim/simulated_dosimeter.h"

#include "link/device_link.h"
#include "link/link_status.h"
#include "link/obex_push.h"
#include "link/reply_pickup.h"
#include "link/transport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <algorithm>
#include <functional>
#include <thread>

namespace dm {
namespace {

namespace fs = std::filesystem;

class SimWithLink : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/dm-sim-link-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
        SimOptions options;
        options.replyDelayMs = 0;
        options.seed = 9;
        options.records = 12;
        options.catalogue = fs::path(DM_SOURCE_DIR) / "data" / "Commands.lst";
        sim_ = std::make_unique<SimulatedDosimeter>(Model::Krt17a, root_, options);
        std::string error;
        ASSERT_TRUE(sim_->start("127.0.0.1", 0, &error)) << error;
        link_ = "tcp:127.0.0.1:" + std::to_string(sim_->port());
        transport_ = MakeTransport(link_, &error);
        ASSERT_TRUE(transport_) << error;
    }
    void TearDown() override {
        sim_.reset();
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    PushReport push(const std::string& text) {
        return PushCommandFile(*transport_, transport_->fixedDevice().value_or(DeviceId{}), text);
    }

    fs::path root_;
    std::string link_;
    std::unique_ptr<SimulatedDosimeter> sim_;
    std::unique_ptr<Transport> transport_;
};

TEST_F(SimWithLink, PushIsAnsweredAndTheReplyIsPickedUp) {
    SilentMessages messages;
    ReplyPickup pickup(messages);
    pickup.rememberExistingFiles(root_);

    const PushReport report = push("get_parameters=255\r\n#\r\n");
    EXPECT_TRUE(report.completed) << report.error;
    EXPECT_EQ(FormatPushReport(report), "CONNECT 0xA0\nPUT 0x90\nPUT 0xA0\nDISCONNECT 0xA0\n");

    // Takes in what a look offers and hands it all on.
    std::string result, archive, param;
    auto look = [&] {
        const TakenReplies taken = pickup.poll(root_);
        if (taken.result) result = *taken.result;
        if (taken.archive) archive = *taken.archive;
        if (taken.parameters) param = *taken.parameters;
        pickup.delivered({taken.result.has_value(), taken.archive.has_value(), taken.parameters.has_value()});
        return std::string(taken.parameters ? "P" : "") + (taken.archive ? "A" : "") + (taken.result ? "L" : "");
    };
    // The pickup takes a file in once it has seen it unchanged at two polls.
    std::string kinds;
    for (int i = 0; i < 3 && kinds.empty(); ++i)
        kinds = look();
    EXPECT_EQ(kinds, "P");
    EXPECT_NE(param.find("dose_neutron = "), std::string::npos);
    // The pickup turns every LF into CR LF, so the device's CR LF reads as CR CR LF.
    EXPECT_NE(param.find("history_depth_gma = 12\r\r\n"), std::string::npos);

    ASSERT_TRUE(push("history_time = 30\r\nfoo = 1\r\nget_parameters=255\r\n#\r\n").completed);
    ASSERT_TRUE(push("get_archive\r\n").completed);
    // A parameter and an archive reply ready together come one poll after the other.
    kinds.clear();
    for (int i = 0; i < 4 && kinds.size() < 3; ++i)
        kinds += look();
    std::sort(kinds.begin(), kinds.end());
    EXPECT_EQ(kinds, "ALP");
    EXPECT_NE(result.find("foo"), std::string::npos);
    EXPECT_EQ(result.find("accepted"), std::string::npos);
    EXPECT_NE(param.find("history_time = 30\r\r\n"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(root_));
}

// Polls until the condition holds, at most 15 seconds (the link probes once a second).
bool Eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

TEST_F(SimWithLink, DosimeterArrivesAnswersAndLeavesAsTheWindowSeesIt) {
    FixedFolderStore store(root_.string());
    SilentMessages messages;
    std::string error;
    DeviceLink link(MakeTransport(link_, &error), store, messages);
    EXPECT_TRUE(Eventually([&] { return link.takeLinkStatus() == LINK_ARRIVED; }));
    link.sendCommandFile("get_parameters=255\r\n#\r\n");
    std::string params;
    EXPECT_TRUE(Eventually([&] {
        params = link.pollReplyFiles().parameters.value_or("");
        return !params.empty();
    }));
    EXPECT_NE(params.find("dose_neutron = "), std::string::npos);
    sim_->setInRange(false);
    EXPECT_TRUE(Eventually([&] { return link.takeLinkStatus() == LINK_GONE; }));
    sim_->setInRange(true);
    EXPECT_TRUE(Eventually([&] { return link.takeLinkStatus() == LINK_ARRIVED; }));
}

TEST_F(SimWithLink, ProbeFollowsTheRange) {
    std::vector<DeviceId> devices;
    ASSERT_TRUE(transport_->enumerate(&devices));
    EXPECT_EQ(devices.size(), 1u);
    sim_->setInRange(false);
    ASSERT_TRUE(transport_->enumerate(&devices));
    EXPECT_TRUE(devices.empty());
    EXPECT_FALSE(push("get_parameters=255\r\n#\r\n").connected);
    sim_->setInRange(true);
    ASSERT_TRUE(transport_->enumerate(&devices));
    EXPECT_EQ(devices.size(), 1u);
    EXPECT_TRUE(push("get_parameters=255\r\n#\r\n").completed);
}

TEST_F(SimWithLink, CommandLinePushPrintsTheResponses) {
    const fs::path file = root_ / "command.cmd";
    {
        std::FILE* f = std::fopen(file.c_str(), "wb");
        ASSERT_TRUE(f);
        std::fputs("get_archive\r\n", f);
        std::fclose(f);
    }
    const fs::path out = root_ / "push.out";
    const std::string cmd = std::string(DM_BIN_DIR) + "/dosimeter-cli push --link " + link_ + " '" +
                            file.string() + "' > '" + out.string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    std::FILE* f = std::fopen(out.c_str(), "rb");
    ASSERT_TRUE(f);
    char buf[256] = {};
    const std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    EXPECT_EQ(std::string(buf, n), "CONNECT 0xA0\nPUT 0x90\nPUT 0xA0\nDISCONNECT 0xA0\n");
    EXPECT_EQ(sim_->commandsHandled(), 1u);
}

} // namespace
} // namespace dm
