#include "core/cp1251.h"
#include "core/format.h"
#include "core/numbers.h"
#include "core/text_file.h"
#include "params/catalogue.h"

#include <benchmark/benchmark.h>

namespace {

void BM_FormatDose(benchmark::State& state) {
    double v = 1e-9;
    for (auto _ : state) {
        benchmark::DoNotOptimize(dm::FormatDose(v, dm::Language::English));
        v = v < 50 ? v * 1.37 : 1e-9;
    }
}
BENCHMARK(BM_FormatDose);

void BM_ParseDeviceNumber(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(dm::ParseDeviceNumber("1.234E-07"));
}
BENCHMARK(BM_ParseDeviceNumber);

void BM_Cp1251ToUtf8(benchmark::State& state) {
    std::string bytes(1 << 16, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i);
    for (auto _ : state)
        benchmark::DoNotOptimize(dm::Cp1251ToUtf8(bytes));
    state.SetBytesProcessed(static_cast<long long>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_Cp1251ToUtf8);

void BM_CatalogueLines(benchmark::State& state) {
    const std::string catalogue =
        dm::DecodeCatalogue(dm::TryReadFile(std::string(DM_SOURCE_DIR) + "/data/Commands.lst").value_or(""));
    for (auto _ : state)
        benchmark::DoNotOptimize(dm::CatalogueLines(catalogue, dm::Model::Krt17a, dm::Language::Russian));
}
BENCHMARK(BM_CatalogueLines);

} // namespace
