// One exchange-cycle tick against a received-files folder full of files that are not
// replies: the cost the window's one-second timer pays on a cluttered folder.
#include "core/message_sink.h"
#include "link/exchange_cycle.h"
#include "link/device_link.h"
#include "link/received_folder_store.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class QuietObserver : public dm::ExchangeObserver {
public:
    void busy(bool) override {}
    void progress(int) override {}
    void parametersReceived(const std::string&) override {}
    void archiveReceived(const std::string&) override {}
    void dosimeterMessage(const std::string&) override {}
    void timedOut() override {}
    void arrived() override {}
    void gone() override {}
};

// A fresh folder with `count` text files whose names hold none of the reply letters.
fs::path MakeFolder(const std::string& tag, int count) {
    const fs::path dir = fs::temp_directory_path() / ("dm-exchange-bench-" + tag + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (int i = 0; i < count; ++i)
        std::ofstream(dir / ("note-" + std::to_string(i) + ".txt")) << "not a reply " << i << "\n";
    return dir;
}

// kind 0: the files were there when the link started (skipped by name);
// kind 1: they came later (listed, looked at, left alone).
void BM_TickWithUnrelatedFiles(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const bool presentAtStart = state.range(1) == 0;
    const fs::path dir = MakeFolder(std::to_string(count) + "-" + std::to_string(state.range(1)),
                                    presentAtStart ? count : 0);
    dm::FixedFolderStore store(dir.string());
    dm::SilentMessages messages;
    dm::DeviceLink link(nullptr, store, messages, /*startDiscovery=*/false);
    if (!presentAtStart) {
        for (int i = 0; i < count; ++i)
            std::ofstream(dir / ("later-" + std::to_string(i) + ".txt")) << "not a reply " << i << "\n";
    }
    dm::ExchangeLinkAdapter<dm::DeviceLink> adapter(link);
    QuietObserver observer;
    dm::ExchangeCycle cycle(adapter, observer, nullptr);
    cycle.tick(); // the first look records the files; later ticks are the steady state
    for (auto _ : state)
        cycle.tick();
    state.counters["files"] = count;
    fs::remove_all(dir);
}
BENCHMARK(BM_TickWithUnrelatedFiles)->Args({0, 0})->Args({1000, 0})->Args({1000, 1})->Unit(benchmark::kMicrosecond);

// A flood of ready files that all look like parameter replies: each tick lists them
// all, delivers the oldest one and deletes it; the rest wait.
void BM_TickDuringAFloodOfReplyLookalikes(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const fs::path dir = MakeFolder("flood-" + std::to_string(count), 0);
    dm::FixedFolderStore store(dir.string());
    dm::SilentMessages messages;
    dm::DeviceLink link(nullptr, store, messages, /*startDiscovery=*/false);
    for (int i = 0; i < count; ++i)
        std::ofstream(dir / ("Pnew" + std::to_string(i) + ".txt")) << "flood " << i << "\n";
    dm::ExchangeLinkAdapter<dm::DeviceLink> adapter(link);
    QuietObserver observer;
    dm::ExchangeCycle cycle(adapter, observer, nullptr);
    cycle.tick();
    for (auto _ : state)
        cycle.tick();
    state.counters["files"] = count;
    fs::remove_all(dir);
}
BENCHMARK(BM_TickDuringAFloodOfReplyLookalikes)->Arg(10000)->Iterations(200)->Unit(benchmark::kMillisecond);

} // namespace
