// The archive read against the floor of reading the same reply file and counting its
// lines: a KRT-17A archive of 10000 gamma and 10000 neutron records, in time and memory.
#include "core/reply_text.h"
#include "core/text_file.h"
#include "history/dose_archive.h"
#include "history/history_table.h"
#include "history/table_save.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <filesystem>
#include <fstream>
#include <string>

// Counts the bytes held through operator new, to measure the archive's memory. Each block
// carries its size in a header as wide as the strictest fundamental alignment.
namespace AllocationCounter {
constexpr std::size_t kHeader = alignof(std::max_align_t);
std::atomic<std::size_t> live{0};
std::atomic<std::size_t> peak{0};

void* Allocate(std::size_t size) {
    void* block = std::malloc(size + kHeader);
    if (!block)
        throw std::bad_alloc();
    *static_cast<std::size_t*>(block) = size;
    const std::size_t now = live += size;
    for (std::size_t p = peak.load(); now > p && !peak.compare_exchange_weak(p, now);) {
    }
    return static_cast<char*>(block) + kHeader;
}

void Free(void* pointer) {
    if (!pointer)
        return;
    void* block = static_cast<char*>(pointer) - kHeader;
    live -= *static_cast<std::size_t*>(block);
    std::free(block);
}

// Starts a new peak from what is held now, and returns that.
std::size_t StartPeak() {
    const std::size_t now = live.load();
    peak = now;
    return now;
}
std::size_t Peak() { return peak.load(); }
} // namespace AllocationCounter

void* operator new(std::size_t size) { return AllocationCounter::Allocate(size); }
void* operator new[](std::size_t size) { return AllocationCounter::Allocate(size); }
void operator delete(void* p) noexcept { AllocationCounter::Free(p); }
void operator delete[](void* p) noexcept { AllocationCounter::Free(p); }
void operator delete(void* p, std::size_t) noexcept { AllocationCounter::Free(p); }
void operator delete[](void* p, std::size_t) noexcept { AllocationCounter::Free(p); }

namespace {

constexpr int kRecords = 10000;

enum class Doses { Accumulated, AllDistinct };

// Written once per run, as the dosimeter beams it: Windows-1251, CR LF. Accumulated: the
// doses grow slowly and, written with two digits, repeat for many records, as a worn
// dosimeter's do. AllDistinct: every record differs from the one before (worst case).
const std::filesystem::path& ArchiveFile(Doses doses = Doses::Accumulated) {
    static std::filesystem::path paths[2];
    std::filesystem::path& path = paths[doses == Doses::Accumulated ? 0 : 1];
    if (!path.empty())
        return path;
    path = std::filesystem::temp_directory_path() /
           (doses == Doses::Accumulated ? "dm-bench-archive-accumulated.txt"
                                        : "dm-bench-archive-distinct.txt");
    std::ofstream out(path, std::ios::binary);
    out << "\xC0\xF0\xF5\xE8\xE2 KRT-17A N 0412\r\n"; // "Архив KRT-17A N 0412"
    char line[96];
    for (int i = 1; i <= kRecords; ++i) {
        if (doses == Doses::Accumulated)
            std::snprintf(line, sizeof line, "%s%.1E\r\n", i == 1 ? " " : "", 1.0e-6 + i * 2.0e-9);
        else
            std::snprintf(line, sizeof line, "%s%.2fE-%02d\r\n", i == 1 ? " " : "",
                          1.0 + (i % 900) / 100.0, 4 + i % 5);
        out << line;
    }
    for (int i = 1; i <= kRecords; ++i) {
        if (doses == Doses::Accumulated)
            std::snprintf(line, sizeof line, "%.1E\t%.2f\t %d\r\n", 1.0e-7 + i * 1.0e-10,
                          0.5 + (i / 1000) / 100.0, i * 60);
        else
            std::snprintf(line, sizeof line, "%.1fE-07\t%.2f\t %d\r\n", 1.0 + (i % 90) / 10.0,
                          0.5 + (i % 150) / 100.0, i * 60);
        out << line;
    }
    return path;
}

void BM_ReadArchiveFileAndCountLines(benchmark::State& state) {
    const auto& path = ArchiveFile();
    for (auto _ : state) {
        const std::string bytes = dm::TryReadFile(path).value_or("");
        benchmark::DoNotOptimize(std::count(bytes.begin(), bytes.end(), '\n'));
    }
}
BENCHMARK(BM_ReadArchiveFileAndCountLines)->Unit(benchmark::kMicrosecond);

// For scale: the same file read line by line with a stream.
void BM_ReadArchiveFileLineByLine(benchmark::State& state) {
    const auto& path = ArchiveFile();
    for (auto _ : state) {
        std::ifstream in(path, std::ios::binary);
        std::string line;
        long lines = 0;
        while (std::getline(in, line))
            ++lines;
        benchmark::DoNotOptimize(lines);
    }
}
BENCHMARK(BM_ReadArchiveFileLineByLine)->Unit(benchmark::kMicrosecond);

// The archive reply as the pickup hands it over, read into a dose archive. The file's
// bytes go once they are text, as they do in the pickup.
dm::DoseArchive ReadArchive(const std::filesystem::path& path) {
    std::string text = dm::ReplyTextFromBytes(dm::TryReadFile(path).value_or(""));
    return dm::ParseDoseArchive(std::move(text), 60.0);
}

// What a tick does with an archive reply: read, normalise and convert, parse.
void BM_ReadAndParseArchive(benchmark::State& state) {
    const auto& path = ArchiveFile(static_cast<Doses>(state.range(0)));
    std::size_t gamma = 0, neutron = 0;
    for (auto _ : state) {
        const dm::DoseArchive archive = ReadArchive(path);
        gamma = archive.gamma().size();
        neutron = archive.neutron().size();
        benchmark::DoNotOptimize(neutron);
    }
    if (gamma != kRecords || neutron != kRecords)
        state.SkipWithError("the archive did not parse into 10000 + 10000 records");
}
BENCHMARK(BM_ReadAndParseArchive)
    ->ArgName("distinct")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The target, measured against its floor in the same run: each iteration reads the file
// and counts its lines, then reads it into an archive. time_ratio is the second over the
// first in wall time, cpu_ratio in processor time (steadier on a busy machine);
// memory_ratio is the most bytes held at once while reading into the archive (the archive
// included) over the file's size. The reported time is the archive read alone.
void BM_ArchiveReadAgainstItsFloor(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    const auto& path = ArchiveFile(static_cast<Doses>(state.range(0)));
    const double fileBytes = static_cast<double>(std::filesystem::file_size(path));
    Clock::duration floor{}, read{};
    std::clock_t floorCpu = 0, readCpu = 0;
    std::size_t peak = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const std::clock_t c0 = std::clock();
        {
            const std::string bytes = dm::TryReadFile(path).value_or("");
            benchmark::DoNotOptimize(std::count(bytes.begin(), bytes.end(), '\n'));
        }
        const auto t1 = Clock::now();
        const std::clock_t c1 = std::clock();
        const std::size_t before = AllocationCounter::StartPeak();
        {
            const dm::DoseArchive archive = ReadArchive(path);
            benchmark::DoNotOptimize(archive.neutron().size());
            peak = std::max(peak, AllocationCounter::Peak() - before);
        }
        const auto t2 = Clock::now();
        const std::clock_t c2 = std::clock();
        floor += t1 - t0;
        read += t2 - t1;
        floorCpu += c1 - c0;
        readCpu += c2 - c1;
        state.SetIterationTime(std::chrono::duration<double>(t2 - t1).count());
    }
    state.counters["time_ratio"] = std::chrono::duration<double>(read).count() /
                                   std::chrono::duration<double>(floor).count();
    state.counters["cpu_ratio"] = floorCpu > 0 ? static_cast<double>(readCpu) / static_cast<double>(floorCpu) : 0.0;
    state.counters["memory_ratio"] = static_cast<double>(peak) / fileBytes;
}
BENCHMARK(BM_ArchiveReadAgainstItsFloor)
    ->ArgName("distinct")->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The step before the parse: the file's bytes turned into the reply text.
void BM_ReplyTextOfArchive(benchmark::State& state) {
    const std::string bytes = dm::TryReadFile(ArchiveFile()).value_or("");
    for (auto _ : state)
        benchmark::DoNotOptimize(dm::ReplyTextFromBytes(bytes));
}
BENCHMARK(BM_ReplyTextOfArchive)->Unit(benchmark::kMicrosecond);

// The parse alone, on the text as the pickup hands it over.
void BM_ParseArchiveText(benchmark::State& state) {
    const auto& path = ArchiveFile(static_cast<Doses>(state.range(0)));
    const std::string text = dm::ReplyTextFromBytes(dm::TryReadFile(path).value_or(""));
    for (auto _ : state) {
        const dm::DoseArchive archive = dm::ParseDoseArchive(text, 60.0);
        benchmark::DoNotOptimize(archive.neutron().size());
    }
}
BENCHMARK(BM_ParseArchiveText)
    ->ArgName("distinct")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Saving the neutron tab: every cell worked out from the archive.
void BM_NeutronTableFileBytes(benchmark::State& state) {
    const dm::DoseArchive archive = ReadArchive(ArchiveFile());
    const dm::HistoryTable neutron(archive, dm::HistoryTab::Neutron, dm::Language::English);
    for (auto _ : state)
        benchmark::DoNotOptimize(dm::NeutronTableFileBytes(neutron));
}
BENCHMARK(BM_NeutronTableFileBytes)->Unit(benchmark::kMicrosecond);

} // namespace
