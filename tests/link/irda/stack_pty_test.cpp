// dosimeter-cli read-params / read-archive over "sir:" against "simulate --link sir:" on
// a pair of pseudo-terminals joined back to back: discovery, the push as primary, the
// simulated dosimeter beaming its reply as primary of a new connection, the pickup
// taking it from the folder. The line between may mangle bytes; captures go to tshark.
#include "sim/pty_bridge.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Starts dosimeter-cli with its output in files; returns its pid.
pid_t Spawn(const std::vector<std::string>& args, const fs::path& out, const fs::path& err, const fs::path& work) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        ::setenv("DOSIMETER_RECORDS", ("sqlite:" + (work / "records.sqlite").string()).c_str(), 1);
        std::vector<std::string> all{std::string(DM_BIN_DIR) + "/dosimeter-cli"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTshark() { return std::system("tshark -v > /dev/null 2>&1") == 0; }

class SirExchange : public ::testing::Test {
protected:
    void SetUp() override {
        work = fs::temp_directory_path() / ("dm-sir-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(work);
        fs::create_directories(work / "recv");
    }
    void TearDown() override {
        if (sim > 0) {
            ::kill(sim, SIGTERM);
            Wait(sim);
        }
        fs::remove_all(work);
    }
    void startSimulator(const std::string& model, const std::string& records = "120",
                        const std::string& replyDelayMs = "100") {
        std::string error;
        bridge = dm::PtyBridge::Open(&error, [this](int, std::vector<std::uint8_t>& bytes) {
            if (mangleEvery == 0)
                return;
            for (auto& b : bytes)
                if (++seen % mangleEvery == 0)
                    b ^= 0x10; // a flipped bit: the frame check fails, the frame is dropped
        });
        ASSERT_TRUE(bridge) << error;
        sim = Spawn({"simulate", "--model", model, "--link", "sir:" + bridge->pathA() + "?dongle=direct", "--records",
                     records, "--reply-delay", replyDelayMs, "--seed", "7", "--verbose", "--capture", (work / "sim.pcap").string()},
                    work / "sim.out", work / "sim.err", work);
    }
    // Runs a read command; exit code, stdout and stderr.
    std::tuple<int, std::string, std::string> read(const std::string& command, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{command, "--link", "sir:" + bridge->pathB() + "?dongle=direct", "--recv-dir",
                                      (work / "recv").string(), "--capture", (work / "cli.pcap").string()};
        args.insert(args.end(), extra.begin(), extra.end());
        const int rc = Wait(Spawn(args, work / "out", work / "err", work));
        return {rc, ReadAll(work / "out"), ReadAll(work / "err")};
    }
    // tshark reads the capture and finds no malformed frame.
    void checkCapture(const fs::path& pcap) {
        if (!HaveTshark())
            GTEST_SKIP() << "tshark is not installed";
        const std::string list = (work / "tshark.txt").string();
        ASSERT_EQ(std::system(("tshark -r " + pcap.string() + " > " + list + " 2>&1").c_str()), 0);
        const std::string decoded = ReadAll(list);
        EXPECT_NE(decoded.find("GetValueByClass"), std::string::npos);
        EXPECT_NE(decoded.find("SNRM"), std::string::npos);
        EXPECT_EQ(decoded.find("Malformed"), std::string::npos) << decoded.substr(0, 3000);
    }

    fs::path work;
    std::unique_ptr<dm::PtyBridge> bridge;
    pid_t sim = -1;
    std::atomic<int> mangleEvery{0};
    std::atomic<long> seen{0};
};

TEST_F(SirExchange, ParametersOfBothModelsComeBackOverIrda) {
    for (const std::string model : {"KRT-17A", "MLV-52B"}) {
        startSimulator(model);
        const auto [rc, out, err] = read("read-params", {"--json"});
        EXPECT_EQ(rc, 0) << err;
        EXPECT_NE(out.find("\"model\": \"" + model + "\""), std::string::npos) << out.substr(0, 300);
        ::kill(sim, SIGTERM);
        EXPECT_EQ(Wait(sim), 0);
        sim = -1;
        checkCapture(work / "cli.pcap");
        checkCapture(work / "sim.pcap");
    }
}

TEST_F(SirExchange, ALargeArchiveComesWholeThroughALineThatMangles) {
    startSimulator("KRT-17A", "3000");
    mangleEvery = 20011; // a bad frame check every twenty kilobytes or so, either way
    const auto [rc, out, err] = read("read-archive", {"--timeout", "60"});
    EXPECT_EQ(rc, 0) << err;
    // Every record arrived: the dose table holds them all below its heading row.
    const std::size_t dose = out.find("# dose history\n");
    const std::size_t neutron = out.find("# neutron history\n");
    ASSERT_NE(dose, std::string::npos);
    ASSERT_NE(neutron, std::string::npos);
    const auto rows = std::count(out.begin() + static_cast<long>(dose), out.begin() + static_cast<long>(neutron), '\n');
    EXPECT_EQ(rows, 1 + 1 + 3000);
}

TEST_F(SirExchange, AHangUpEndsTheExchangeWithOneMessage) {
    // The reply waits two seconds, so the dosimeter surely goes away once the push of
    // the command has ended and before it beams its reply.
    startSimulator("MLV-52B", "120", "2000");
    std::thread killer([this] {
        for (int i = 0; i < 800 && ReadAll(work / "sim.err").find("OBEX session ends") == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ::kill(sim, SIGKILL);
    });
    const auto [rc, out, err] = read("read-params", {"--timeout", "6"});
    killer.join();
    Wait(sim);
    sim = -1;
    EXPECT_EQ(rc, 1);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("Connection interrupted."), std::string::npos) << err;
}

TEST_F(SirExchange, AMissingPortIsOneLineAndExitOne) {
    const int rc = Wait(Spawn({"read-params", "--link", "sir:" + (work / "no-such-tty").string(), "--recv-dir",
                               (work / "recv").string()},
                              work / "out", work / "err", work));
    EXPECT_EQ(rc, 1);
    const std::string err = ReadAll(work / "err");
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("no-such-tty"), std::string::npos) << err;
}

} // namespace

// The window's demonstration in one process: the simulated dosimeter on one end of an
// in-process pair, the device link's transport on the other, the stack's thread serving
// both the push and the reply beamed back.
#include "link/obex_push.h"
#include "link/stack_transport.h"
#include "params/command_files.h"
#include "sim/irda_dosimeter.h"

namespace {

TEST(PtyDosimeter, AnswersAPushOverTheStackInOneProcess) {
    const fs::path folder = fs::temp_directory_path() / ("dm-pty-dosimeter-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    dm::SimOptions options;
    options.replyDelayMs = 50;
    options.seed = 3;
    std::string path, error;
    auto dosimeter = dm::PtyDosimeter::Start(dm::Model::Mlv52b, options, false, &path, &error);
    ASSERT_TRUE(dosimeter) << error;
    dm::TransportOptions to;
    to.receivedFolder = folder.string();
    auto transport = dm::MakeTransport("sir:" + path + "?dongle=direct", to, &error);
    ASSERT_TRUE(transport) << error;
    ASSERT_EQ(transport->openDiscovery(), dm::DiscoveryStart::Ok);
    std::vector<dm::DeviceId> devices;
    ASSERT_TRUE(transport->enumerate(&devices));
    ASSERT_EQ(devices.size(), 1u);
    const dm::PushReport push = dm::PushCommandFile(*transport, devices[0], dm::GetParametersCommand(0));
    ASSERT_TRUE(push.completed) << push.error;
    std::string reply;
    for (int i = 0; i < 1000 && reply.empty(); ++i) {
        for (const auto& e : fs::directory_iterator(folder))
            if (e.path().extension() == ".txt")
                reply = ReadAll(e.path());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_NE(reply.find("serial_number"), std::string::npos) << reply.substr(0, 200);
    EXPECT_EQ(dosimeter->dosimeter().commandsHandled(), 1u);
    // Out of range the line carries nothing either way, the reply's connection perhaps
    // still up: the stack ends it by its own time-out (3 s), then discovery finds nobody.
    // Back in range, the dosimeter answers again.
    dosimeter->setInRange(false);
    for (int i = 0; i < 80 && !devices.empty(); ++i) {
        ASSERT_TRUE(transport->enumerate(&devices));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(devices.empty());
    dosimeter->setInRange(true);
    ASSERT_TRUE(transport->enumerate(&devices));
    ASSERT_EQ(devices.size(), 1u);
    transport.reset();
    dosimeter.reset();
    fs::remove_all(folder);
}

} // namespace
