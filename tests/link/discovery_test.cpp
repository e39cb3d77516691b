// The discovery thread and the link status, driven by a scripted transport. Each step
// hands the thread one device list and waits until the thread asks for the next, so
// no test depends on timing.
#include "link/device_link.h"
#include "link/irda_transport.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>

namespace dm {
namespace {

const DeviceId kA{0x11, 0x22, 0x33, 0x44};
const DeviceId kB{0x11, 0x22, 0x33, 0x55};
const DeviceId kC{0x99, 0x88, 0x77, 0x66};

class RecordingSink : public MessageSink {
public:
    void showMessage(const std::string& text) override {
        {
            std::lock_guard lock(mutex_);
            messages_.push_back(text);
        }
        shown_.notify_all();
    }
    std::vector<std::string> messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    std::vector<std::string> waitForMessage() {
        std::unique_lock lock(mutex_);
        if (!shown_.wait_for(lock, std::chrono::seconds(30), [&] { return !messages_.empty(); }))
            ADD_FAILURE() << "no message came";
        return messages_;
    }

private:
    std::mutex mutex_;
    std::condition_variable_any shown_;
    std::vector<std::string> messages_;
};

// Shared between the test and the transport the link owns.
struct Script {
    std::mutex mutex;
    std::condition_variable changed;
    DiscoveryStart start = DiscoveryStart::Ok;
    bool failEnumerate = false;
    std::deque<std::optional<std::vector<DeviceId>>> lists; // nothing: the call fails
    int calls = 0;          // enumerate and waitForChange calls begun
    int pushed = 0;         // lists handed over so far
    bool closed = false;    // closeDiscovery was called
    bool finished = false;  // the thread will make no more calls
    std::string reason;     // the transport's own word on a failure
};

class ScriptedTransport : public Transport {
public:
    explicit ScriptedTransport(Script& s) : s_(s) {}
    DiscoveryStart openDiscovery() override {
        std::lock_guard lock(s_.mutex);
        return s_.start;
    }
    bool enumerate(std::vector<DeviceId>* devices) override { return next(devices, nullptr); }
    bool waitForChange(std::vector<DeviceId>* devices, const StopSignal& stop) override {
        return next(devices, &stop);
    }
    void closeDiscovery() override {
        {
            std::lock_guard lock(s_.mutex);
            s_.closed = true;
            s_.finished = true;
        }
        s_.changed.notify_all();
    }
    std::unique_ptr<Connection> connect(const DeviceId&, const std::string&, std::string*) override {
        return nullptr;
    }
    std::string name() const override { return "scripted"; }
    std::string linkError() const override {
        std::lock_guard lock(s_.mutex);
        return s_.reason;
    }

private:
    bool next(std::vector<DeviceId>* devices, const StopSignal* stop) {
        std::unique_lock lock(s_.mutex);
        ++s_.calls;
        s_.changed.notify_all();
        for (;;) {
            if (!s_.lists.empty())
                break;
            if (stop && stop->requested())
                return true;
            // Released by the next list, or looked at again for a stop request.
            s_.changed.wait_for(lock, std::chrono::milliseconds(5));
        }
        std::optional<std::vector<DeviceId>> list = s_.lists.front();
        s_.lists.pop_front();
        if (!list)
            return false;
        *devices = *list;
        return true;
    }
    Script& s_;
};

class Discovery : public ::testing::Test {
protected:
    void start() {
        link = std::make_unique<DeviceLink>(std::make_unique<ScriptedTransport>(script), store, sink);
    }
    // Hands one list to the thread and waits until it has been applied (the thread is
    // back asking for the next) or the thread has ended.
    void deliver(std::optional<std::vector<DeviceId>> list) {
        std::unique_lock lock(script.mutex);
        script.lists.push_back(std::move(list));
        const int pushed = ++script.pushed;
        script.changed.notify_all();
        // The thread applies list k before it begins call k + 1.
        if (!script.changed.wait_for(lock, std::chrono::seconds(30),
                                     [&] { return script.calls > pushed || script.finished; }))
            ADD_FAILURE() << "the discovery thread did not take list " << pushed;
    }
    int calls() {
        std::lock_guard lock(script.mutex);
        return script.calls;
    }

    Script script;
    FixedFolderStore store{::testing::TempDir()};
    RecordingSink sink;
    std::unique_ptr<DeviceLink> link;
};

TEST_F(Discovery, ArrivalIsReportedOnceThenPresent) {
    start();
    deliver(std::vector<DeviceId>{kA});
    EXPECT_EQ(link->takeLinkStatus(), LINK_ARRIVED);
    EXPECT_EQ(link->takeLinkStatus(), LINK_PRESENT);
    EXPECT_EQ(link->takeLinkStatus(), LINK_PRESENT);
    EXPECT_EQ(link->currentDevice(), kA);
    // The same device listed again raises nothing.
    deliver(std::vector<DeviceId>{kA});
    EXPECT_EQ(link->takeLinkStatus(), LINK_PRESENT);
    EXPECT_TRUE(sink.messages().empty());
}

TEST_F(Discovery, EmptyFirstListIsGoneThenNone) {
    start();
    deliver(std::vector<DeviceId>{});
    EXPECT_EQ(link->takeLinkStatus(), LINK_GONE);
    EXPECT_EQ(link->takeLinkStatus(), LINK_NONE);
    EXPECT_TRUE(IsNoDevice(link->currentDevice()));
}

TEST_F(Discovery, LeavingAndComingBackArrivesAgain) {
    start();
    deliver(std::vector<DeviceId>{kA});
    EXPECT_EQ(link->takeLinkStatus(), LINK_ARRIVED);
    deliver(std::vector<DeviceId>{});
    EXPECT_EQ(link->takeLinkStatus(), LINK_GONE);
    EXPECT_TRUE(IsNoDevice(link->currentDevice()));
    deliver(std::vector<DeviceId>{kA});
    EXPECT_EQ(link->takeLinkStatus(), LINK_ARRIVED);
    EXPECT_EQ(link->takeLinkStatus(), LINK_PRESENT);
}

TEST_F(Discovery, OnlyTheFirstDeviceCounts) {
    start();
    deliver(std::vector<DeviceId>{kA});
    EXPECT_EQ(link->takeLinkStatus(), LINK_ARRIVED);
    deliver(std::vector<DeviceId>{kA, kC});
    EXPECT_EQ(link->takeLinkStatus(), LINK_PRESENT);
    deliver(std::vector<DeviceId>{kA});
    EXPECT_EQ(link->takeLinkStatus(), LINK_PRESENT);
    // A new first device, differing in one byte only, is an arrival.
    deliver(std::vector<DeviceId>{kB, kA});
    EXPECT_EQ(link->takeLinkStatus(), LINK_ARRIVED);
    EXPECT_EQ(link->currentDevice(), kB);
}

TEST_F(Discovery, UnreadEventIsOverwrittenByTheLatest) {
    start();
    deliver(std::vector<DeviceId>{kA});
    deliver(std::vector<DeviceId>{});
    EXPECT_EQ(link->takeLinkStatus(), LINK_GONE);
    deliver(std::vector<DeviceId>{});
    deliver(std::vector<DeviceId>{kC});
    EXPECT_EQ(link->takeLinkStatus(), LINK_ARRIVED);
    EXPECT_EQ(link->takeLinkStatus(), LINK_PRESENT);
}

TEST_F(Discovery, NoIrdaSocketIsSaidOnceAndNothingIsEverReported) {
    script.start = DiscoveryStart::SocketFailed;
    start();
    EXPECT_EQ(sink.waitForMessage(), std::vector<std::string>{"Error#23. Check if IRDA module is installed."});
    EXPECT_EQ(link->takeLinkStatus(), LINK_NONE);
    link.reset();
    EXPECT_EQ(calls(), 0);
    EXPECT_EQ(sink.messages().size(), 1u);
}

TEST_F(Discovery, SocketLayerFailureIsSaid) {
    script.start = DiscoveryStart::SocketLayerFailed;
    start();
    EXPECT_EQ(sink.waitForMessage(), std::vector<std::string>{"WSAStartup error"});
}

TEST_F(Discovery, FailedFirstEnumerationEndsDiscovery) {
    start();
    deliver(std::nullopt);
    EXPECT_EQ(sink.waitForMessage(), std::vector<std::string>{"Error#24. Check if IRDA module is installed."});
    link.reset();
    std::lock_guard lock(script.mutex);
    EXPECT_TRUE(script.closed);
}

TEST_F(Discovery, FailedWaitEndsDiscoveryAndKeepsTheLastState) {
    start();
    deliver(std::vector<DeviceId>{kA});
    deliver(std::nullopt);
    EXPECT_EQ(sink.waitForMessage(), std::vector<std::string>{"Error#25. Check if IRDA module is installed."});
    EXPECT_EQ(link->takeLinkStatus(), LINK_ARRIVED);
    EXPECT_EQ(link->currentDevice(), kA);
    link.reset();
    EXPECT_EQ(calls(), 2);
}

// A port that goes away while a dosimeter is in range: the link explains it once, for
// the status log, and the dosimeter is out of reach; nothing goes to the message boxes.
TEST_F(Discovery, PortGoneEndsDiscoveryWithTheLinksOwnLineAndTheDosimeterOutOfReach) {
    start();
    deliver(std::vector<DeviceId>{kA});
    EXPECT_TRUE(link->waitForDevice(std::chrono::steady_clock::now() + std::chrono::seconds(5)));
    {
        std::lock_guard lock(script.mutex);
        script.reason = "sir:/dev/ttyUSB0: the port is gone (unplugged or closed): hung up";
    }
    deliver(std::nullopt);
    EXPECT_EQ(link->takeLinkStatus(), LINK_GONE);
    EXPECT_TRUE(IsNoDevice(link->currentDevice()));
    EXPECT_EQ(link->takeLinkFailure(), script.reason);
    EXPECT_FALSE(link->takeLinkFailure());
    EXPECT_FALSE(link->waitForDevice(std::chrono::steady_clock::now() + std::chrono::seconds(5)));
    EXPECT_TRUE(sink.messages().empty());
}

TEST_F(Discovery, DestructionStopsAWaitingThread) {
    start();
    deliver(std::vector<DeviceId>{kA});
    link.reset(); // must return: the thread is stopped and joined
    std::lock_guard lock(script.mutex);
    EXPECT_TRUE(script.closed);
    EXPECT_TRUE(sink.messages().empty());
}

TEST_F(Discovery, UserThreadReadsWhileDiscoveryWrites) {
    start();
    int arrivals = 0;
    for (int i = 0; i < 200; ++i) {
        {
            std::lock_guard lock(script.mutex);
            script.lists.push_back(std::vector<DeviceId>{i % 2 ? kA : kC});
            ++script.pushed;
        }
        script.changed.notify_all();
        if (link->takeLinkStatus() == LINK_ARRIVED)
            ++arrivals;
        (void)link->currentDevice();
    }
    deliver(std::vector<DeviceId>{kA, kB});
    if (link->takeLinkStatus() == LINK_ARRIVED)
        ++arrivals;
    EXPECT_GE(arrivals, 1);
    EXPECT_EQ(link->takeLinkStatus(), LINK_PRESENT);
}

TEST(DiscoveryOff, NoThreadWhenNotAsked) {
    RecordingSink sink;
    FixedFolderStore store{::testing::TempDir()};
    Script script;
    DeviceLink link(std::make_unique<ScriptedTransport>(script), store, sink, false);
    EXPECT_EQ(link.takeLinkStatus(), LINK_NONE);
    std::lock_guard lock(script.mutex);
    EXPECT_EQ(script.calls, 0);
}

} // namespace
} // namespace dm

namespace dm {
namespace {

TEST(IrdaDiscovery, KernelWithoutIrdaSaysSoOnce) {
    // No adapter to fall back to, whatever this machine has.
    ::setenv("DOSIMETER_ADAPTERS_ROOT", (::testing::TempDir() + "/no-adapters").c_str(), 1);
    std::string error;
    std::unique_ptr<Transport> probe = MakeTransport("irda", &error);
    ASSERT_TRUE(probe) << error;
    const bool hasIrda = probe->openDiscovery() == DiscoveryStart::Ok;
    probe->closeDiscovery();
    if (hasIrda)
        GTEST_SKIP() << "this kernel has IrDA sockets";

    RecordingSink sink;
    FixedFolderStore store{::testing::TempDir()};
    {
        DeviceLink link(MakeTransport("irda", &error), store, sink);
        // The link says what to do, once, for the window's status log rather than a box.
        EXPECT_FALSE(link.waitForDevice(std::chrono::steady_clock::now() + std::chrono::seconds(5)));
        EXPECT_EQ(link.discoveryFailure(), kMsgNoIrdaAdapter);
        EXPECT_EQ(link.takeLinkFailure(), std::optional<std::string>(kMsgNoIrdaAdapter));
        EXPECT_FALSE(link.takeLinkFailure());
        EXPECT_EQ(link.takeLinkStatus(), LINK_NONE);
        EXPECT_FALSE(link.sendCommandFile("get_archive\r\n").connected);
    }
    EXPECT_TRUE(sink.messages().empty());
}

} // namespace
} // namespace dm
