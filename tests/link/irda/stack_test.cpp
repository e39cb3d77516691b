// The IrDA stack's layers end to end between two engines joined back to back, on a clock
// of the test's own: every time-out runs in no real time, so the scenarios are exact.
// A filter on the line loses or mangles frames; a scripted station stands in for a peer
// that misbehaves in one precise way.
#include "link/irda/stack_engine.h"
#include "link/obex_codes.h"
#include "link/obex_push.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>

namespace dm::irda {
namespace {

using std::chrono::milliseconds;
namespace fs = std::filesystem;

class VirtualClock : public LapClock {
public:
    SteadyTime now() const override { return now_; }
    void sleepUntil(SteadyTime t) override { now_ = std::max(now_, t); }
    void advanceTo(SteadyTime t) { now_ = std::max(now_, t); }

private:
    SteadyTime now_ = SteadyTime{} + std::chrono::hours(1);
};

// One end of an in-memory line. What one end sends, the other reads; the filter sees
// each frame on its way and may drop it (returns false) or change it.
struct Line;
class MemoryPort : public FramePort {
public:
    MemoryPort(Line& line, int side) : line_(line), side_(side) {}
    int pollDescriptor() const override { return -1; }
    bool read(std::vector<Bytes>& frames, std::string*) override;
    bool send(const Bytes& frame, int, std::string*) override;
    SteadyTime lastActivity() const override;
    std::vector<int> speeds() const override { return {9600, 19200, 38400, 57600, 115200}; }
    bool setSpeed(int baud, std::string*) override {
        speed_ = baud;
        return true;
    }
    int speed() const override { return speed_; }
    std::string name() const override { return "memory"; }

private:
    Line& line_;
    int side_;
    int speed_ = kContactSpeed;
};

struct Line {
    explicit Line(VirtualClock& c) : clock(c) {}
    VirtualClock& clock;
    std::deque<Bytes> inbox[2];
    SteadyTime activity{};
    std::function<bool(int from, Bytes& frame)> filter;
    MemoryPort a{*this, 0};
    MemoryPort b{*this, 1};
};

bool MemoryPort::read(std::vector<Bytes>& frames, std::string*) {
    auto& in = line_.inbox[side_];
    frames.insert(frames.end(), in.begin(), in.end());
    in.clear();
    return true;
}

bool MemoryPort::send(const Bytes& frame, int, std::string*) {
    line_.activity = line_.clock.now();
    Bytes f = frame;
    if (!line_.filter || line_.filter(side_, f))
        line_.inbox[1 - side_].push_back(std::move(f));
    return true;
}

SteadyTime MemoryPort::lastActivity() const { return line_.activity; }

// Keeps objects in memory.
class MemoryStore : public ObjectStore {
public:
    struct Writer : ObjectWriter {
        Writer(MemoryStore& s, std::string n) : store(s), name(std::move(n)) {}
        bool write(const char* d, std::size_t n, std::string*) override {
            body.append(d, n);
            return true;
        }
        std::optional<std::string> finish(std::string*) override {
            store.objects.emplace_back(name, body);
            return name;
        }
        MemoryStore& store;
        std::string name, body;
    };
    std::unique_ptr<ObjectWriter> begin(const std::string& name, std::optional<std::uint64_t>, std::uint8_t*,
                                        std::string*) override {
        return std::make_unique<Writer>(*this, name);
    }
    std::vector<std::pair<std::string, std::string>> objects;
};

// Two engines on one line: A is the computer, B the dosimeter with an OBEX receiver.
struct Pair {
    VirtualClock clock;
    Line line{clock};
    MemoryStore storeB;
    std::unique_ptr<StackEngine> a, b;
    std::map<int, std::string> received; // stream -> bytes that came in on A
    std::map<int, std::string> closedWhy;
    bool autoConsume = true; // A's reader takes whatever comes at once
    Pair(bool serveOnB = true) {
        EngineOptions oa;
        oa.lap.address = 0x0A0A0A0A;
        oa.lap.seed = 1;
        EngineEvents ea;
        ea.streamData = [this](int s, const std::uint8_t* d, std::size_t n) {
            received[s].append(reinterpret_cast<const char*>(d), n);
            if (autoConsume)
                a->streamConsumed(s, n);
        };
        ea.streamClosed = [this](int s, const std::string& why) { closedWhy[s] = why; };
        a = std::make_unique<StackEngine>(line.a, clock, oa, ea);
        EngineOptions ob;
        ob.lap.address = 0x0B0B0B0B;
        ob.lap.seed = 2;
        ob.store = serveOnB ? &storeB : nullptr;
        b = std::make_unique<StackEngine>(line.b, clock, ob, EngineEvents{});
    }
    // Runs both until done() holds or the virtual time runs out; false then.
    bool runUntil(const std::function<bool()>& done, milliseconds limit = milliseconds(60000)) {
        const SteadyTime end = clock.now() + limit;
        while (!done()) {
            if (!line.inbox[0].empty()) {
                a->onReadable();
                continue;
            }
            if (!line.inbox[1].empty()) {
                b->onReadable();
                continue;
            }
            const SteadyTime next = std::min(a->deadline(), b->deadline());
            if (next > end)
                return false;
            clock.advanceTo(next);
            a->onTimer();
            b->onTimer();
        }
        return true;
    }
    // Opens A's stream to B's OBEX service; the stream, or 0 with the reason.
    int open(std::string* why = nullptr) {
        bool done = false;
        int stream = 0;
        a->openStream(0x0B0B0B0B, "OBEX:IrXfer", clock.now() + milliseconds(10000), [&](int s, const std::string& e) {
            done = true;
            stream = s;
            if (why)
                *why = e;
        });
        runUntil([&] { return done; });
        return stream;
    }
    void send(int stream, const std::string& bytes) {
        a->streamSend(stream, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
};

std::string Put(const std::string& name, const std::string& body) {
    std::string p = ObexFirstPutPacket(name, body.size());
    for (const std::string& packet : ObexBodyPackets(body, 0x1000))
        p += packet;
    return p;
}

TEST(IrdaStack, DiscoversConnectsAndPushesAnObjectThroughIasAndTinyTp) {
    Pair p;
    std::vector<DiscoveredDevice> found;
    bool done = false;
    p.a->discover([&](const std::vector<DiscoveredDevice>& d, const std::string&) {
        found = d;
        done = true;
    });
    ASSERT_TRUE(p.runUntil([&] { return done; }));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].address, 0x0B0B0B0Bu);
    EXPECT_EQ(found[0].info.hints.at(1) & kHint2Obex, kHint2Obex);

    const int s = p.open();
    ASSERT_NE(s, 0);
    EXPECT_EQ(p.a->station().params().baud, 115200);
    // A body of many frames and many OBEX packets: windows, credits and packets all turn over.
    std::string body;
    for (int i = 0; i < 40000; ++i)
        body += static_cast<char>('0' + i % 43);
    p.send(s, ObexConnectPacket() + Put("P1.txt", body) + ObexDisconnectPacket());
    ASSERT_TRUE(p.runUntil([&] { return !p.storeB.objects.empty() && p.received[s].size() >= 7 + 3 * 11 + 3; }));
    EXPECT_EQ(p.storeB.objects[0].first, "P1.txt");
    EXPECT_EQ(p.storeB.objects[0].second, body);
    p.a->closeStream(s);
    ASSERT_TRUE(p.runUntil([&] { return !p.a->station().connected() && !p.b->station().connected(); }));
    // Our push is over: our discovery keeps the line quiet for the reply.
    EXPECT_TRUE(p.a->awaitingReply());
}

TEST(IrdaStack, LostFramesAndBadChecksAreRecoveredByRetransmission) {
    Pair p;
    const int s = p.open();
    ASSERT_NE(s, 0);
    // Every fifth I-frame either way is lost, and every seventh RR: go-back-N and the
    // F-timer's poll bring everything across once, in order.
    int n = 0;
    p.line.filter = [&](int, Bytes& f) {
        if (f.size() < 2)
            return true;
        ++n;
        if ((f[1] & 1) == 0 && n % 5 == 0)
            return false;
        if ((f[1] & 0x0F) == kRr && n % 7 == 0)
            return false;
        return true;
    };
    std::string body(20000, 'x');
    p.send(s, ObexConnectPacket() + Put("A.txt", body));
    ASSERT_TRUE(p.runUntil([&] { return !p.storeB.objects.empty(); }));
    EXPECT_EQ(p.storeB.objects[0].second, body);
    EXPECT_GT(p.a->station().counters().retransmitted + p.b->station().counters().retransmitted, 0);
    EXPECT_GT(p.a->station().counters().timeouts, 0);
}

TEST(IrdaStack, ASilentPeerEndsTheLinkWithinTheDisconnectTime) {
    Pair p;
    const int s = p.open();
    ASSERT_NE(s, 0);
    const SteadyTime silentFrom = p.clock.now();
    const auto disconnectTime = p.a->station().params().linkDisconnect;
    p.line.filter = [](int from, Bytes&) { return from == 0; }; // B's answers no longer arrive
    p.send(s, ObexConnectPacket());
    ASSERT_TRUE(p.runUntil([&] { return p.closedWhy.count(s) > 0; }));
    const auto took = p.clock.now() - silentFrom;
    EXPECT_EQ(disconnectTime, milliseconds(3000));
    EXPECT_GE(took, disconnectTime);
    EXPECT_LE(took, disconnectTime + milliseconds(1000));
    EXPECT_NE(p.closedWhy[s].find("no answer"), std::string::npos) << p.closedWhy[s];
}

TEST(IrdaStack, AClassNotFoundIsAnAnswerWhateverFollowsIt) {
    Pair p(false); // B offers no OBEX service
    std::string why;
    EXPECT_EQ(p.open(&why), 0);
    EXPECT_NE(why.find("no OBEX:IrXfer service"), std::string::npos) << why;
    // The answer code decides even when a list follows it.
    EXPECT_EQ(DecodeIasAnswer({0x84, 0x01, 0x00, 0x01, 0x00, 0x00, 0x01, 0, 0, 0, 3}).code,
              IasAnswer::Code::NoSuchClass);
    // And the link the failed request opened is closed again.
    ASSERT_TRUE(p.runUntil([&] { return !p.a->station().connected(); }));
}

TEST(IrdaStack, BothSidesDiscoveringAtOnceStillMeet) {
    Pair p;
    std::vector<DiscoveredDevice> fa, fb;
    int done = 0;
    p.a->discover([&](const std::vector<DiscoveredDevice>& d, const std::string&) {
        fa = d;
        ++done;
    });
    p.b->discover([&](const std::vector<DiscoveredDevice>& d, const std::string&) {
        fb = d;
        ++done;
    });
    ASSERT_TRUE(p.runUntil([&] { return done == 2; }));
    // One gave way to the other, answered it, and ran its own afterwards.
    ASSERT_EQ(fa.size() + fb.size(), 2u);
}

// A peer scripted frame by frame: the test plays B's station by hand.
TEST(IrdaStack, ReceiveNotReadyHoldsTheSenderAndReadyReleasesIt) {
    VirtualClock clock;
    Line line(clock);
    EngineOptions oa;
    oa.lap.address = 0x0A0A0A0A;
    StackEngine a(line.a, clock, oa, EngineEvents{});
    // Play the secondary: accept the SNRM, then answer every poll with RNR.
    std::uint8_t caddr = 0;
    bool busy = true;
    int iFramesWhileBusy = 0;
    int iFramesAfter = 0;
    auto peer = [&] {
        while (!line.inbox[1].empty()) {
            Bytes f = line.inbox[1].front();
            line.inbox[1].pop_front();
            auto lf = ParseLapFrame(f);
            if (!lf)
                continue;
            if (auto snrm = DecodeSnrm(*lf)) {
                caddr = snrm->connection;
                UaInfo ua{0x0B0B0B0B, 0x0A0A0A0A, QosBits{}};
                line.b.send(EncodeUa(caddr, ua), 0, nullptr);
                continue;
            }
            if (lf->kind() == FrameKind::Information)
                ++(busy ? iFramesWhileBusy : iFramesAfter);
            if (lf->pf())
                // Nothing is acknowledged: what was sent must wait, then go again.
                line.b.send(MakeFrame(caddr, false, SControl(busy ? kRnr : kRr, 0, true)), 0, nullptr);
        }
    };
    bool linkUp = false;
    a.openStream(0x0B0B0B0B, "OBEX", clock.now() + milliseconds(60000), [&](int, const std::string&) {});
    const SteadyTime end = clock.now() + milliseconds(5000);
    while (clock.now() < end) {
        peer();
        if (!line.inbox[0].empty()) {
            a.onReadable();
            continue;
        }
        linkUp = linkUp || a.station().connected();
        clock.advanceTo(std::min(a.deadline(), end));
        a.onTimer();
    }
    ASSERT_TRUE(linkUp);
    // Held: only the first frame (the IAS connect) went out before the RNR came back,
    // and it is not sent again while the peer stays busy.
    EXPECT_EQ(iFramesWhileBusy, 1);
    EXPECT_TRUE(a.station().connected());
    busy = false;
    const SteadyTime end2 = clock.now() + milliseconds(2000);
    while (clock.now() < end2 && iFramesAfter == 0) {
        peer();
        if (!line.inbox[0].empty()) {
            a.onReadable();
            continue;
        }
        clock.advanceTo(std::min(a.deadline(), end2));
        a.onTimer();
    }
    EXPECT_GT(iFramesAfter, 0);
}

TEST(IrdaStack, CreditsRunOutAndComeBackAsTheReaderTakesTheData) {
    Pair p;
    const int s = p.open();
    ASSERT_NE(s, 0);
    // A's reader stops taking: B may answer with only as many PDUs as A's credit allows.
    p.autoConsume = false;
    auto ask = [&](const std::string& request) {
        const std::size_t before = p.received[s].size();
        p.send(s, request);
        return p.runUntil([&] { return p.received[s].size() > before; }, milliseconds(3000));
    };
    ASSERT_TRUE(ask(ObexConnectPacket()));
    int answered = 1;
    while (answered < 30 && ask(ObexFirstPutPacket("x", 0)))
        ++answered;
    EXPECT_EQ(answered, kTtpInitialCredit);
    EXPECT_TRUE(p.a->station().connected()); // held, not broken
    // The reader takes it all: the credit goes back and the held answer comes.
    const std::size_t held = p.received[s].size();
    p.a->streamConsumed(s, held);
    ASSERT_TRUE(p.runUntil([&] { return p.received[s].size() > held; }, milliseconds(3000)));
}

TEST(ObexReceiver, NamesAreKeptSafeAndFilesAppearOnlyWhole) {
    const fs::path dir = fs::temp_directory_path() / ("irda-recv-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / "P7.txt") << "older";
    FolderObjectStore store(dir, 1 << 16);
    auto push = [&](const std::string& name, const std::string& body) {
        ObexServer server(store, 1 << 16);
        std::string out;
        const std::string in = ObexConnectPacket() + Put(name, body);
        server.feed(reinterpret_cast<const std::uint8_t*>(in.data()), in.size(), &out);
        return static_cast<std::uint8_t>(out[out.size() - 3]);
    };
    EXPECT_EQ(push("P7.txt", "new"), obex::kSuccess);   // taken: a free name keeps P and .txt
    EXPECT_EQ(push("../../Lost.txt", "x"), obex::kSuccess); // unsafe: a safe unique name
    EXPECT_EQ(push("", "y"), obex::kSuccess);
    EXPECT_EQ(push("big.txt", std::string(70000, 'b')), obex::kEntityTooLarge);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names.size(), 4u) << ::testing::PrintToString(names);
    EXPECT_EQ(names[0], "P7-2.txt");
    EXPECT_EQ(names[1], "P7.txt");
    for (int i = 2; i < 4; ++i)
        EXPECT_EQ(names[i].find_first_of("LAP"), std::string::npos) << names[i];
    std::ifstream in(dir / "P7.txt");
    std::string old;
    in >> old;
    EXPECT_EQ(old, "older");
    fs::remove_all(dir);
}

TEST(ObexPush, TheBodyIsSplitOnlyWhereThePeersPacketLengthAsksForIt) {
    // 1000 bytes in a final PUT of 1006 bytes: whole at 1006, in two packets at 1005.
    const std::string body(1000, 'b');
    EXPECT_EQ(ObexBodyPackets(body, 1006), std::vector<std::string>{ObexFinalPutPacket(body)});
    const auto split = ObexBodyPackets(body, 1005);
    ASSERT_EQ(split.size(), 2u);
    EXPECT_EQ(split[0].size(), 1005u);
    EXPECT_EQ(static_cast<std::uint8_t>(split[0][0]), obex::kPut);
    EXPECT_EQ(split[1], ObexFinalPutPacket(std::string(1, 'b')));
    // Below the smallest packet every peer must take, the smallest is used.
    for (const std::string& p : ObexBodyPackets(body, 10))
        EXPECT_LE(p.size(), 255u);
}

TEST(IrlapFrames, TheLineCapacityRuleCutsWhatOneTurnCarries) {
    QosBits ours;
    ours.baud = 0x3E;
    QosBits peer = ours;
    peer.baud = 0x02; // 9600 only
    const auto p = Negotiate(ours, peer);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->baud, 9600);
    EXPECT_EQ(p->txDataSize, 256u);
    EXPECT_EQ(p->txWindow, 1);
    peer.baud = 0x3E;
    const auto fast = Negotiate(ours, peer);
    EXPECT_EQ(fast->baud, 115200);
    EXPECT_EQ(fast->txDataSize, 2048u);
    EXPECT_EQ(fast->txWindow, 2);
    peer.baud = 0x01; // 2400 only, which we do not offer
    EXPECT_FALSE(Negotiate(ours, peer));
}

} // namespace
} // namespace dm::irda
