#include "history/history_csv.h"

#include "core/format.h"
#include "core/numbers.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace dm {
namespace {

// Shortest text that reads back to the same double; spreadsheets read "inf" as text,
// which is what an absurd dose should stay.
std::string Number(double v) {
    if (std::isnan(v))
        return "nan";
    if (std::isinf(v))
        return v > 0 ? "inf" : "-inf";
    // As the C locale writes it: the window saves under the user's locale.
    std::string text;
    for (int precision = 1; precision <= 17; ++precision) {
        text = CNumberText(v, 'g', precision);
        if (ParseNumberText(text) == v)
            break;
    }
    return text;
}

void AddRow(std::string& out, std::initializer_list<std::string_view> fields) {
    bool first = true;
    for (std::string_view f : fields) {
        if (!first)
            out += ',';
        out += CsvField(f);
        first = false;
    }
    out += "\r\n";
}

} // namespace

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string out = "\"";
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string HistoryCsvBytes(const DoseArchive& archive, const HistoryTable& table, HistoryTab tab) {
    std::string out;
    const int rows = table.rowCount();
    if (rows <= 1)
        return out;
    if (tab == HistoryTab::Dose) {
        const auto& records = archive.gamma();
        // Layout A shows # | received (hidden) | dose | time; layout B # | dose, no time.
        const bool withTime = archive.layout() == ArchiveLayout::A;
        AddRow(out, {"number", "seconds", "time", "dose_sv", "dose"});
        for (int row = 1; row < rows && std::size_t(row - 1) < records.size(); ++row) {
            const GammaDoseRecord& r = records[std::size_t(row - 1)];
            AddRow(out, {table.text(row, 0), std::to_string(r.seconds),
                         withTime ? table.text(row, 3) : FormatTime(r.seconds), Number(r.sv),
                         table.text(row, withTime ? 2 : 1)});
        }
    } else {
        const auto& records = archive.neutron();
        // # | received (hidden) | dose | coefficient | time received (hidden) | time
        AddRow(out, {"number", "seconds", "time", "dose_sv", "dose", "coefficient"});
        for (int row = 1; row < rows && std::size_t(row - 1) < records.size(); ++row) {
            const NeutronDoseRecord& r = records[std::size_t(row - 1)];
            AddRow(out, {table.text(row, 0), std::to_string(r.seconds), table.text(row, 5), Number(r.sv),
                         table.text(row, 2), Number(r.coefficient)});
        }
    }
    return out;
}

} // namespace dm
