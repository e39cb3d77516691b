#include "records/records_export.h"

#include "core/numbers.h"
#include "core/text_file.h"
#include "records/utc_time.h"

#include <cmath>
#include <system_error>

namespace dm::records {
namespace {

using Row = std::vector<std::string>;

std::string Join(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& s : items)
        out += (out.empty() ? "" : ";") + s;
    return CsvText(out);
}

std::string Optional(const std::optional<std::string>& v) { return CsvText(v.value_or("")); }
std::string OptionalNumber(const std::optional<double>& v) { return v ? NumberText(*v) : ""; }
std::string OptionalTime(const std::optional<UtcSeconds>& v) { return v ? FormatUtcTime(*v) : ""; }

void Put(std::string& out, const Row& row) {
    for (std::size_t i = 0; i < row.size(); ++i)
        out += (i ? "," : "") + CsvField(row[i]);
    out += "\r\n";
}

} // namespace

bool IsExportTable(const std::string& t) {
    return t == "dosimeters" || t == "readouts" || t == "wearers" || t == "doses";
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string out = "\"";
    for (char c : text)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string CsvText(const std::string& text) {
    if (text.empty())
        return text;
    switch (text[0]) {
    case '=': case '+': case '-': case '@': case '\t': case '\r':
        return "'" + text;
    default:
        return text;
    }
}

std::string NumberText(double v) {
    return std::isfinite(v) ? ShortestNumberText(v) : "null";
}

std::string ExportCsv(RecordsRepository& repo, const std::string& table, std::optional<int> year) {
    if (!IsExportTable(table))
        throw RecordsError(RecordsError::Kind::Refused,
                           "no table '" + table + "' to export (dosimeters, readouts, wearers or doses)");
    if (year && (table == "dosimeters" || table == "wearers"))
        throw RecordsError(RecordsError::Kind::Refused, "--year applies to the readouts and doses tables only");
    std::string out;
    if (table == "dosimeters") {
        Put(out, {"serial", "model", "first_seen", "last_seen", "readouts", "total_dose", "wearer"});
        for (const DosimeterSummary& d : repo.dosimeters())
            Put(out, {CsvText(d.serial), Optional(d.model), OptionalTime(d.firstSeen), OptionalTime(d.lastSeen),
                      std::to_string(d.readouts), OptionalNumber(d.totalDose), Optional(d.wearer)});
    } else if (table == "readouts") {
        Put(out, {"serial", "readout", "at", "station", "operator", "total_dose", "increment", "flags", "wearer"});
        for (const DosimeterSummary& d : repo.dosimeters()) {
            if (d.readouts == 0)
                continue;
            for (const ReadoutView& r : repo.readouts(d.serial)) {
                if (year && YearOf(r.at) != *year)
                    continue;
                Put(out, {CsvText(d.serial), std::to_string(r.id), FormatUtcTime(r.at), CsvText(r.origin.station),
                          CsvText(r.origin.operatorName), OptionalNumber(r.totalDose), OptionalNumber(r.accounted.increment),
                          Join(r.accounted.flags), Optional(r.wearer)});
            }
        }
    } else if (table == "wearers") {
        Put(out, {"id", "name", "born", "dosimeters"});
        for (const Wearer& w : DoseOfRecord(repo).wearers())
            Put(out, {CsvText(w.id), CsvText(w.name), Optional(w.born), Join(w.dosimeters)});
    } else {
        Put(out, {"wearer", "year", "dose"});
        for (const YearDose& d : DoseOfRecord(repo).doseTable(year))
            Put(out, {CsvText(d.wearer), std::to_string(d.year), NumberText(d.dose)});
    }
    return out;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* error) {
    // The one writer of every file: a full disk or a failed flush is a failure, and the
    // old file stays whole. Exports hold names, birth dates and doses: owner-only.
    const FileReplaceStatus status = ReplaceFileWhole(path, bytes, FileAccess::OwnerOnly);
    if (!status && error)
        *error = path + ": cannot be written: " + std::error_code(status.error, std::generic_category()).message();
    return static_cast<bool>(status);
}

} // namespace dm::records
