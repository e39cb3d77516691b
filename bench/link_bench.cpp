// Device link: polls of a received-files folder, a push over loopback, and the whole
// "Get parameters" exchange against the simulated dosimeter.
#include "link/exchange_cycle.h"
#include "link/device_link.h"
#include "link/obex_push.h"
#include "link/reply_pickup.h"
#include "link/tcp_transport.h"
#include "link/transport.h"
#include "params/command_files.h"
#include "sim/simulated_dosimeter.h"
#include "../tests/link/obex_test_peer.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include <dirent.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path FreshFolder(const std::string& tag) {
    const fs::path dir = fs::temp_directory_path() / ("dm_link_bench_" + tag + "_" + std::to_string(std::random_device{}()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// 1000 text files that are not replies: half were there at start, half carry no
// reply letter. A poll must still look at every name.
void BM_PollBusyFolder(benchmark::State& state) {
    const fs::path dir = FreshFolder("busy");
    dm::SilentMessages silent;
    dm::ReplyPickup pickup(silent);
    for (int i = 0; i < 500; ++i)
        std::ofstream(dir / ("Protocol_" + std::to_string(i) + ".txt")) << "old";
    pickup.rememberExistingFiles(dir);
    for (int i = 0; i < 500; ++i)
        std::ofstream(dir / ("note_" + std::to_string(i) + ".txt")) << "unrelated";
    for (auto _ : state)
        benchmark::DoNotOptimize(pickup.poll(dir));
    fs::remove_all(dir);
}
BENCHMARK(BM_PollBusyFolder)->Unit(benchmark::kMicrosecond);

// The floor of a poll: the folder's names listed and counted, nothing built.
std::size_t CountNames(const fs::path& dir) {
    std::size_t n = 0;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d))
            n += e->d_name[0] != '\0';
        ::closedir(d);
    }
    return n;
}

// One poll of a folder holding 10000 files that are not replies (a third there at the
// link's start, a third text files without a reply letter, a third of other kinds),
// against the bare listing of the same folder in the same run. time_ratio is the poll
// over the listing in wall time, cpu_ratio in processor time (steadier on a busy
// machine). The reported time is the poll alone.
void BM_CrowdedFolderPollAgainstItsFloor(benchmark::State& state) {
    const fs::path dir = FreshFolder("crowded");
    constexpr int kThird = 3334;
    for (int i = 0; i < kThird; ++i)
        std::ofstream(dir / ("P" + std::to_string(i) + "_protocol.txt")) << "old";
    dm::SilentMessages silent;
    dm::ReplyPickup pickup(silent);
    pickup.watch(dir);
    pickup.rememberExistingFiles(dir);
    for (int i = 0; i < kThird; ++i)
        std::ofstream(dir / ("note_" + std::to_string(i) + ".txt")) << "unrelated";
    for (int i = 0; i < 10000 - 2 * kThird; ++i)
        std::ofstream(dir / ("photo_" + std::to_string(i) + ".jpg")) << "unrelated";
    pickup.poll(dir);
    Clock::duration floor{}, poll{};
    std::clock_t floorCpu = 0, pollCpu = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const std::clock_t c0 = std::clock();
        benchmark::DoNotOptimize(CountNames(dir));
        const auto t1 = Clock::now();
        const std::clock_t c1 = std::clock();
        benchmark::DoNotOptimize(pickup.poll(dir));
        const auto t2 = Clock::now();
        const std::clock_t c2 = std::clock();
        floor += t1 - t0;
        poll += t2 - t1;
        floorCpu += c1 - c0;
        pollCpu += c2 - c1;
        state.SetIterationTime(std::chrono::duration<double>(t2 - t1).count());
    }
    state.counters["time_ratio"] =
        std::chrono::duration<double>(poll).count() / std::chrono::duration<double>(floor).count();
    state.counters["cpu_ratio"] = floorCpu > 0 ? static_cast<double>(pollCpu) / static_cast<double>(floorCpu) : 0.0;
    fs::remove_all(dir);
}
BENCHMARK(BM_CrowdedFolderPollAgainstItsFloor)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_PushOverLoopback(benchmark::State& state) {
    dm::test::ObexTestPeer peer;
    dm::TcpTransport transport("127.0.0.1", std::to_string(peer.port()), dm::LinkTimeouts{});
    const std::string text = "get_parameters=255\r\n#\r\n";
    for (auto _ : state) {
        const dm::PushReport report = dm::PushCommandFile(transport, *transport.fixedDevice(), text);
        if (!report.completed)
            state.SkipWithError(report.error.c_str());
    }
}
BENCHMARK(BM_PushOverLoopback)->Unit(benchmark::kMicrosecond);

std::unique_ptr<dm::SimulatedDosimeter> StartSimulator(const fs::path& folder, int replyDelayMs) {
    dm::SimOptions options;
    options.replyDelayMs = replyDelayMs;
    options.records = 10;
    options.seed = 7;
    options.catalogue = DM_SOURCE_DIR "/data/Commands.lst";
    auto sim = std::make_unique<dm::SimulatedDosimeter>(dm::Model::Krt17a, folder, options);
    std::string error;
    if (!sim->start("127.0.0.1", 0, &error))
        return nullptr;
    return sim;
}

// The "Get parameters" exchange as `dosimeter-cli read-params` runs it against the
// simulated dosimeter: push, wait for the reply file, take it in, dispatch it. The
// argument is the simulator's reply delay in ms: with 0 the reply is written during the
// push; with 300 it lands between two ticks. The floor, in the same run, is the push of
// the same command to a second simulator (which beams its replies too, into a folder
// nobody watches). The reported time is the exchange's, wall clock; time_ratio is the
// exchange over the push; beyond_ms is what the exchange took beyond the push and the
// reply delay: the pickup's own share.
void BM_GetParametersExchangeAgainstThePush(benchmark::State& state) {
    const fs::path folder = FreshFolder("exchange");
    const fs::path floorFolder = FreshFolder("push");
    const int delayMs = static_cast<int>(state.range(0));
    const auto sim = StartSimulator(folder, delayMs);
    const auto floorSim = StartSimulator(floorFolder, 0);
    if (!sim || !floorSim) {
        state.SkipWithError("the simulator did not start");
        return;
    }
    std::string error;
    dm::TcpTransport floorTransport("127.0.0.1", std::to_string(floorSim->port()), dm::LinkTimeouts{});
    dm::FixedFolderStore store(folder.string());
    dm::SilentMessages silent;
    dm::DeviceLink link(dm::MakeTransport("tcp:127.0.0.1:" + std::to_string(sim->port()), &error), store,
                            silent);
    link.takeRepliesOnly("LP");
    for (int i = 0; i < 500 && dm::IsNoDevice(link.currentDevice()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    dm::ExchangeLinkAdapter<dm::DeviceLink> adapter(link);
    const dm::ExchangeStart start = dm::ComposeGetParameters(0);
    const std::string command = start.files.back();

    Clock::duration floor{}, exchange{};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const dm::PushReport pushed = dm::PushCommandFile(floorTransport, *floorTransport.fixedDevice(), command);
        const auto t1 = Clock::now();
        Clock::time_point nextTick = Clock::now() + std::chrono::seconds(1);
        const dm::ExchangeRunResult run = dm::RunExchangeToReply(
            adapter, start, dm::WantedReply::Parameters, 14,
            [&] {
                std::this_thread::sleep_until(nextTick);
                nextTick += std::chrono::seconds(1);
            },
            [&] { return link.waitForReplyFiles(nextTick); });
        const auto t2 = Clock::now();
        if (!pushed.completed || run.outcome != dm::ExchangeRunResult::Outcome::Reply) {
            state.SkipWithError("no reply");
            break;
        }
        floor += t1 - t0;
        exchange += t2 - t1;
        state.SetIterationTime(std::chrono::duration<double>(t2 - t1).count());
        state.PauseTiming();
        for (const auto& entry : fs::directory_iterator(floorFolder))
            fs::remove(entry.path());
        state.ResumeTiming();
    }
    state.counters["time_ratio"] =
        std::chrono::duration<double>(exchange).count() / std::chrono::duration<double>(floor).count();
    const double iterations = static_cast<double>(state.iterations());
    state.counters["push_ms"] = std::chrono::duration<double, std::milli>(floor).count() / iterations;
    state.counters["beyond_ms"] =
        std::chrono::duration<double, std::milli>(exchange - floor).count() / iterations - delayMs;
    sim->stop();
    floorSim->stop();
    fs::remove_all(folder);
    fs::remove_all(floorFolder);
}
BENCHMARK(BM_GetParametersExchangeAgainstThePush)
    ->ArgName("reply_delay_ms")->Arg(0)->Arg(300)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
