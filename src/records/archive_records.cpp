#include "records/archive_records.h"

#include "core/numbers.h"
#include "history/archive_parse.h"
#include "history/history_table.h"

#include <cerrno>
#include <cstdlib>

namespace dm::records {
namespace {

std::optional<std::int64_t> WholeSeconds(const std::string& text) {
    std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return std::nullopt;
    const char* start = text.c_str() + begin;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(start, &end, 10);
    if (end == start || errno == ERANGE)
        return std::nullopt;
    for (const char* p = end; *p; ++p)
        if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n')
            return std::nullopt;
    return value;
}

} // namespace

// Until the dose archive is typed, its records are read back out of the history tables
// the parse fills: the hidden columns keep the texts as received.
ArchiveContent ReadArchiveRecords(std::string_view reply, double interval) {
    HistoryTable dose, neutron;
    const ArchiveParseResult parse = ParseArchiveReply(reply, interval, 0, dose, neutron);
    ArchiveContent out;
    out.layout = parse.layout;
    for (int row = 1; row < dose.rowCount(); ++row) {
        ArchiveRecord r;
        r.section = ArchiveRecord::Section::Gamma;
        r.number = row;
        r.doseText = dose.text(row, 1);
        r.dose = ParseDeviceNumber(r.doseText);
        if (parse.layout == 'A')
            r.seconds = GammaRecordSeconds(row, interval);
        out.records.push_back(std::move(r));
    }
    if (parse.layout == 'A') {
        for (int row = 1; row < neutron.rowCount(); ++row) {
            ArchiveRecord r;
            r.section = ArchiveRecord::Section::Neutron;
            r.number = row;
            r.doseText = neutron.text(row, 1);
            r.dose = ParseDeviceNumber(r.doseText);
            r.coefficient = neutron.text(row, 3);
            r.seconds = WholeSeconds(neutron.text(row, 4));
            out.records.push_back(std::move(r));
        }
    }
    return out;
}

} // namespace dm::records
