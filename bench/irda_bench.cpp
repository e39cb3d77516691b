// The IrDA stack over pseudo-terminals joined back to back, each end paced like a real
// line where the benchmark says so. Each reports its ratio to the floor measured in the
// same run: the time the bytes need on the line (ten bits a byte) plus the protocol's
// mandatory waits.
#include "link/irda/irda_stack.h"
#include "link/irda/serial_port.h"
#include "link/obex_push.h"
#include "link/stack_transport.h"
#include "params/command_files.h"
#include "sim/irda_dosimeter.h"
#include "sim/pty_bridge.h"
#include "sim/sim_device.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <thread>

namespace {

using namespace dm;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double CpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

fs::path FreshFolder(const std::string& name) {
    const fs::path p = fs::temp_directory_path() / ("irda-bench-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(p);
    fs::create_directories(p);
    return p;
}

std::unique_ptr<irda::IrdaStack> StackOn(const std::string& path, bool paced, const std::string& folder) {
    irda::SirLinkOptions sir;
    sir.path = path;
    sir.dongle = "direct";
    sir.paced = paced;
    std::string error;
    auto port = irda::OpenSirPort(sir, &error);
    if (!port)
        return nullptr;
    irda::StackOptions o;
    o.receivedFolder = folder;
    o.timeouts.receive = std::chrono::seconds(30);
    return irda::IrdaStack::Start(std::move(port), o, &error);
}

// A dosimeter's archive of 10,000 gamma and 10,000 neutron records, pushed from one stack
// to the other's OBEX receiver once the link is up.
void PushArchive(benchmark::State& state, bool paced) {
    SimDevice device(Model::Krt17a, {}, 7);
    device.fillHistory(10000);
    const std::string archive = device.archiveReply();
    std::string error;
    auto bridge = PtyBridge::Open(&error);
    const fs::path folder = FreshFolder(paced ? "paced" : "unpaced");
    auto sender = StackOn(bridge->pathA(), paced, "");
    auto receiver = StackOn(bridge->pathB(), paced, folder.string());
    if (!sender || !receiver) {
        state.SkipWithError("no pseudo-terminal pair");
        return;
    }
    double ratio = 0, cpuPerMb = 0;
    for (auto _ : state) {
        std::vector<irda::DiscoveredDevice> found;
        sender->discover(&found, Clock::now() + std::chrono::seconds(5), &error);
        if (found.empty()) {
            state.SkipWithError("no device found");
            return;
        }
        auto c = sender->connect(found.front().address, "OBEX:IrXfer", Clock::now() + std::chrono::seconds(10), &error);
        if (!c) {
            state.SkipWithError(error.c_str());
            return;
        }
        const auto begin = Clock::now();
        const double cpu0 = CpuSeconds();
        PushReport report;
        PushObject(*c, "A1.txt", archive, report);
        const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
        const double cpu = CpuSeconds() - cpu0;
        c->close();
        if (!report.completed) {
            state.SkipWithError(report.error.c_str());
            return;
        }
        ratio = archive.size() * 10.0 / 115200.0 / seconds;
        cpuPerMb = cpu * 1000.0 / (archive.size() / 1048576.0);
        state.SetIterationTime(seconds);
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    state.counters["bytes"] = static_cast<double>(archive.size());
    state.counters["line_rate_ratio"] = ratio;     // paced: at least 0.8 wanted
    state.counters["cpu_ms_per_MB"] = cpuPerMb;    // both stacks, both ends
    fs::remove_all(folder);
}

void BM_IrdaArchivePaced115200(benchmark::State& state) { PushArchive(state, true); }
void BM_IrdaArchiveUnpaced(benchmark::State& state) { PushArchive(state, false); }

// From a dosimeter in range to its parameter reply in the folder over a paced 9600-baud
// line: discovery, the push, the reply beamed back. The floor: the bytes of both
// captures on the line plus the waits the protocol asks for (half a second of silence
// before each side's first frame, the discovery slots, the dosimeter's reply delay).
void BM_IrdaParametersPaced9600(benchmark::State& state) {
    std::string error;
    auto bridge = PtyBridge::Open(&error);
    const fs::path folder = FreshFolder("params");
    SimOptions so;
    so.replyDelayMs = 100;
    so.seed = 7;
    irda::SirLinkOptions simSir;
    simSir.path = bridge->pathA();
    simSir.paced = true;
    auto dosimeter = std::make_unique<IrdaDosimeter>(Model::Krt17a, so);
    if (!dosimeter->start(irda::OpenSirPort(simSir, &error), (folder / "sim.pcap").string(), &error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    irda::SirLinkOptions sir;
    sir.path = bridge->pathB();
    sir.paced = true;
    irda::StackOptions o;
    o.receivedFolder = (folder / "recv").string();
    fs::create_directories(folder / "recv");
    StackTransport transport(irda::IrdaStack::Start(irda::OpenSirPort(sir, &error), o, &error), LinkTimeouts{});
    double ratio = 0, floorSeconds = 0, took = 0;
    for (auto _ : state) {
        const auto begin = Clock::now();
        std::vector<DeviceId> devices;
        transport.openDiscovery();
        while (devices.empty() && Clock::now() - begin < std::chrono::seconds(10))
            transport.enumerate(&devices);
        const PushReport push = PushCommandFile(transport, devices.at(0), GetParametersCommand(0));
        bool arrived = false;
        while (!arrived && Clock::now() - begin < std::chrono::seconds(30)) {
            for (const auto& e : fs::directory_iterator(folder / "recv"))
                arrived = arrived || e.path().extension() == ".txt";
            if (!arrived)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        took = std::chrono::duration<double>(Clock::now() - begin).count();
        state.SetIterationTime(took);
        if (!push.completed || !arrived) {
            state.SkipWithError("no reply");
            return;
        }
    }
    dosimeter.reset();
    // Line bytes: each frame the dosimeter saw or sent, with its SIR wrapping.
    std::FILE* f = std::fopen((folder / "sim.pcap").string().c_str(), "rb");
    double lineBytes = 0;
    unsigned char header[24];
    if (f && std::fread(header, 1, 24, f) == 24) {
        unsigned char rec[16];
        while (std::fread(rec, 1, 16, f) == 16) {
            std::uint32_t len = 0;
            std::memcpy(&len, rec + 8, 4);
            std::vector<unsigned char> pkt(len);
            if (std::fread(pkt.data(), 1, len, f) != len)
                break;
            const bool contact = len >= 18 && pkt[16] >= 0xFE; // broadcast frames carry ten extra BOFs
            lineBytes += (len - 16) + 4 + (contact ? 10 : 0);
        }
    }
    if (f)
        std::fclose(f);
    const double waits = 2 * 0.5 + 2 * 6 * 0.05 + 0.1;
    floorSeconds = lineBytes * 10 / 9600 + waits;
    ratio = took / floorSeconds;
    state.counters["seconds"] = took;
    state.counters["floor_seconds"] = floorSeconds;
    state.counters["line_bytes"] = lineBytes;
    state.counters["ratio_to_floor"] = ratio; // at most 1.5 wanted
    fs::remove_all(folder);
}

} // namespace

BENCHMARK(BM_IrdaArchivePaced115200)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_IrdaArchiveUnpaced)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IrdaParametersPaced9600)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);
