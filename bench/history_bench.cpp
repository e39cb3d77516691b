// The archive parse against the floor of reading the same reply file and counting its
// lines: a KRT-17A archive of 10000 gamma and 10000 neutron records.
#include "core/reply_text.h"
#include "core/text_file.h"
#include "history/archive_parse.h"
#include "history/history_table.h"
#include "history/table_save.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

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

// What a tick does with an archive reply: read, normalise and convert, parse into both tables.
void BM_ReadAndParseArchive(benchmark::State& state) {
    const auto& path = ArchiveFile(static_cast<Doses>(state.range(0)));
    dm::HistoryTable dose, neutron;
    for (auto _ : state) {
        const std::string text = dm::ReplyTextFromBytes(dm::TryReadFile(path).value_or(""));
        dm::ParseArchiveReply(text, 60.0, 0, dose, neutron);
        benchmark::DoNotOptimize(neutron.rowCount());
    }
    if (dose.rowCount() != kRecords + 1 || neutron.rowCount() != kRecords + 1)
        state.SkipWithError("the archive did not parse into 10000 + 10000 records");
}
BENCHMARK(BM_ReadAndParseArchive)
    ->ArgName("distinct")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The parse alone, on the text as the pickup hands it over.
void BM_ParseArchiveText(benchmark::State& state) {
    const auto& path = ArchiveFile(static_cast<Doses>(state.range(0)));
    const std::string text = dm::ReplyTextFromBytes(dm::TryReadFile(path).value_or(""));
    dm::HistoryTable dose, neutron;
    for (auto _ : state) {
        dm::ParseArchiveReply(text, 60.0, 0, dose, neutron);
        benchmark::DoNotOptimize(neutron.rowCount());
    }
}
BENCHMARK(BM_ParseArchiveText)
    ->ArgName("distinct")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_NeutronTableFileBytes(benchmark::State& state) {
    const std::string text = dm::ReplyTextFromBytes(dm::TryReadFile(ArchiveFile()).value_or(""));
    dm::HistoryTable dose, neutron;
    dm::ParseArchiveReply(text, 60.0, 0, dose, neutron);
    for (auto _ : state)
        benchmark::DoNotOptimize(dm::NeutronTableFileBytes(neutron));
}
BENCHMARK(BM_NeutronTableFileBytes)->Unit(benchmark::kMicrosecond);

} // namespace
