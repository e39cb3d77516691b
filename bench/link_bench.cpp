// Device link: one poll of a busy received-files folder, and a push over loopback.
#include "link/obex_push.h"
#include "link/reply_pickup.h"
#include "link/tcp_transport.h"
#include "../tests/link/obex_test_peer.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace {

namespace fs = std::filesystem;

// 1000 text files that are not replies: half were there at start, half carry no
// reply letter. A poll must still look at every name.
void BM_PollBusyFolder(benchmark::State& state) {
    const fs::path dir = fs::temp_directory_path() / ("dm_link_bench_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    dm::SilentMessages silent;
    dm::ReplyPickup pickup(silent);
    for (int i = 0; i < 500; ++i)
        std::ofstream(dir / ("Protocol_" + std::to_string(i) + ".txt")) << "old";
    pickup.rememberExistingFiles(dir);
    for (int i = 0; i < 500; ++i)
        std::ofstream(dir / ("note_" + std::to_string(i) + ".txt")) << "unrelated";
    std::string result, archive, param;
    for (auto _ : state)
        benchmark::DoNotOptimize(pickup.poll(dir, dm::ReplySlots{&result, &archive, &param}));
    fs::remove_all(dir);
}
BENCHMARK(BM_PollBusyFolder)->Unit(benchmark::kMicrosecond);

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

} // namespace
