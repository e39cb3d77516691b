// How long a parameter reply takes to become the parameter table.
#include "core/reply_text.h"
#include "params/command_files.h"
#include "params/parameter_set.h"
#include "params/parameter_table.h"
#include "params/row_presentation.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

// A KRT-17A reply and its catalogue section with n parameters, a few of them doses and
// durations, as the dosimeter would beam them (CR LF, after the pickup's LF doubling).
struct Sample {
    std::string reply;
    std::string catalogue;
};

Sample MakeSample(int n) {
    Sample s;
    std::string raw = "dose_neutron = 2.0E-05\r\n";
    s.catalogue = "<KRT17A-en>\r\n";
    for (int i = 0; i < n; ++i) {
        std::string key;
        std::string value;
        switch (i % 4) {
        case 0:
            key = "dose_val_" + std::to_string(i);
            value = "1.5E-03";
            break;
        case 1:
            key = "total_time_" + std::to_string(i);
            value = "90061";
            break;
        case 2:
            key = "param_" + std::to_string(i);
            value = "\"some text\"";
            break;
        default:
            key = "threshold_" + std::to_string(i);
            value = "0.25";
            break;
        }
        raw += key + " = " + value + "\r\n";
        s.catalogue += key + "#Parameter number " + std::to_string(i) + "@rw$defaultcolor\r\n";
    }
    raw += "cfg_final_sound = enable\r\ncfg_type_of_signal = fixed\r\nlimit_fixed = 0.001\r\n";
    s.catalogue += "</KRT17A-en>\r\n";
    s.reply = dm::ReplyTextFromBytes(raw);
    return s;
}

void BM_ParseParameterReply(benchmark::State& state) {
    const Sample sample = MakeSample(static_cast<int>(state.range(0)));
    dm::ParameterTableState table;
    for (auto _ : state) {
        const dm::ParameterSet set = dm::ReadParameterSet(sample.reply);
        const auto rows = dm::ParameterRows(set, sample.catalogue, dm::Language::English, 0);
        dm::UpdateTableState(set, rows, dm::Language::English, table);
        // Every row as the table shows it once.
        for (const dm::ParameterRow& row : rows) {
            const dm::RowPresentation shown = dm::PresentRow(set, row, dm::Language::English);
            benchmark::DoNotOptimize(shown.value.text.data());
        }
        benchmark::DoNotOptimize(rows.size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ParseParameterReply)->Arg(20)->Arg(200);

void BM_ComposeSendChanges(benchmark::State& state) {
    const Sample sample = MakeSample(200);
    dm::ParameterSet set = dm::ReadParameterSet(sample.reply);
    const auto rows = dm::ParameterRows(set, sample.catalogue, dm::Language::English, 0);
    for (const dm::ParameterRow& row : rows)
        set.setModified(row.key, true);
    for (auto _ : state) {
        auto start = dm::ComposeSendChanges(set, rows, dm::Model::Krt17a, dm::Language::English);
        benchmark::DoNotOptimize(start.files.size());
    }
}
BENCHMARK(BM_ComposeSendChanges);

} // namespace
