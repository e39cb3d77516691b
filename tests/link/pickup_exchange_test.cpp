// The reply pickup under the exchange cycle, in a temporary received-files folder:
// files of one kind arriving together, two exchanges sharing the folder, a flood.
#include "link/exchange_cycle.h"
#include "link/irda_functions.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <random>

namespace dm {
namespace {

namespace fs = std::filesystem;

class NoMessages : public MessageSink {
public:
    void showMessage(const std::string& text) override { ADD_FAILURE() << text; }
};

// Keeps what the cycle handed on; the rest of the window does not matter here.
class HandedOn : public ExchangeScreen {
public:
    std::vector<std::string> params, archives, messages;
    void disableActions() override {}
    void enableActions() override {}
    void enableButton(int) override {}
    bool isButtonEnabled(int) const override { return false; }
    int currentTab() const override { return 0; }
    void setProgressBar(int) override {}
    void addStatusPadded(const std::string&) override {}
    void addStatusRaw(const std::string& text) override { messages.push_back(text); }
    void parseParameterReply(const std::string& text) override { params.push_back(text); }
    void parseArchiveReply(const std::string& text) override { archives.push_back(text); }
    void playReplySignal() override {}
    void showParameterGrid() override {}
    void emptyParameterGrid() override {}
    void clearHistoryTables() override {}
    void hideDiagramButton() override {}
    void dropHistoryTabs() override {}
    void invalidate() override {}
};

// One program's side of the folder: its device link, its cycle and what it was handed.
struct Exchange {
    explicit Exchange(const fs::path& folder)
        : store(folder.string()), link(nullptr, store, sink, false), adapter(link),
          cycle(adapter, screen, nullptr, 0) {}
    NoMessages sink;
    FixedFolderStore store;
    CIrdaFunctions link;
    ExchangeLinkAdapter<CIrdaFunctions> adapter;
    HandedOn screen;
    ExchangeCycle cycle;
};

class PickupExchange : public ::testing::Test {
protected:
    PickupExchange()
        : dir(fs::path(::testing::TempDir()) / ("dm_pickup_" + std::to_string(std::random_device{}()))) {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~PickupExchange() override { fs::remove_all(dir); }

    // A finished transfer, written secondsAgo.
    void beam(const std::string& name, const std::string& text, int secondsAgo) {
        std::ofstream(dir / name, std::ios::binary) << text;
        fs::last_write_time(dir / name, fs::file_time_type::clock::now() - std::chrono::seconds(secondsAgo));
    }
    std::size_t filesLeft() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
    }

    fs::path dir;
};

TEST_F(PickupExchange, ReplyAndForeignFileOfOneLetterAreBothDeliveredOldestFirst) {
    for (const bool replyFirst : {true, false}) {
        Exchange window(dir);
        beam("P1700000000-1.txt", "genuine", replyFirst ? 20 : 10);
        beam("Pevil.txt", "foreign", replyFirst ? 10 : 20);
        for (int tick = 0; tick < 3; ++tick)
            window.cycle.tick();
        const std::vector<std::string> inOrder =
            replyFirst ? std::vector<std::string>{"genuine", "foreign"} : std::vector<std::string>{"foreign", "genuine"};
        EXPECT_EQ(window.screen.params, inOrder) << replyFirst;
        EXPECT_EQ(filesLeft(), 0u);
    }
}

TEST_F(PickupExchange, ResultBesideAParameterReplyIsShownOnTheNextTick) {
    Exchange window(dir);
    beam("L1.txt", "Error: locked", 10);
    beam("P1.txt", "params", 10);
    window.cycle.tick();
    window.cycle.tick();
    EXPECT_EQ(window.screen.params, std::vector<std::string>{"params"});
    EXPECT_TRUE(window.screen.messages.empty());
    EXPECT_TRUE(fs::exists(dir / "L1.txt")); // not looked at yet: kept
    window.cycle.tick();
    EXPECT_EQ(window.screen.messages, std::vector<std::string>{"Error: locked"});
    EXPECT_EQ(filesLeft(), 0u);
}

TEST_F(PickupExchange, TwoExchangesOnOneFolderBothGetAReply) {
    Exchange first(dir), second(dir);
    beam("P1-1.txt", "reply to one", 10);
    beam("P1-2.txt", "reply to two", 9);
    beam("A1-3.txt", "archive for someone else", 8);
    first.link.TakeRepliesOnly("LP");
    second.link.TakeRepliesOnly("LP");
    for (int round = 0; round < 2; ++round) {
        first.cycle.tick();
        second.cycle.tick();
    }
    EXPECT_EQ(first.screen.params, std::vector<std::string>{"reply to one"});
    EXPECT_EQ(second.screen.params, std::vector<std::string>{"reply to two"});
    EXPECT_TRUE(first.screen.archives.empty());
    EXPECT_TRUE(second.screen.archives.empty());
    EXPECT_EQ(filesLeft(), 1u);
    EXPECT_TRUE(fs::exists(dir / "A1-3.txt"));
}

TEST_F(PickupExchange, FloodOfForeignFilesIsDeliveredOneATickAndNoneIsLost) {
    Exchange window(dir);
    beam("P0-reply.txt", "genuine", 30);
    constexpr int kFlood = 10000;
    for (int i = 0; i < kFlood; ++i)
        beam("Pnew" + std::to_string(100000 + i) + ".txt", "flood " + std::to_string(i), 20);
    window.cycle.tick(); // first look
    for (int tick = 1; tick <= 3; ++tick) {
        window.cycle.tick();
        ASSERT_EQ(window.screen.params.size(), static_cast<std::size_t>(tick));
        EXPECT_EQ(filesLeft(), static_cast<std::size_t>(kFlood + 1 - tick));
    }
    EXPECT_EQ(window.screen.params,
              (std::vector<std::string>{"genuine", "flood 0", "flood 1"}));
}

} // namespace
} // namespace dm
