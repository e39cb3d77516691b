#pragma once
// The records as RFC 4180 CSV (UTF-8, comma-separated, CR LF line ends): a header row of
// the JSON field names of the matching listing, one row per entry in the listing's order,
// times and doses as in JSON, lists joined with ';', null as an empty cell.
#include "records/dose_of_record.h"

#include <optional>
#include <string>
#include <vector>

namespace dm::records {

// The tables: "dosimeters", "readouts", "wearers", "doses".
bool IsExportTable(const std::string& table);

// `year` narrows "readouts" (taken in that year) and "doses"; RecordsError(Refused) for
// an unknown table or a year given for a table it does not apply to.
std::string ExportCsv(RecordsRepository& repo, const std::string& table, std::optional<int> year);

// One CSV field, quoted when it holds a comma, a quote, CR or LF.
std::string CsvField(const std::string& text);

// A text cell a spreadsheet never takes for a formula: text starting with '=', '+', '-',
// '@', TAB or CR gets a leading apostrophe. Numbers are written as they are, not through this.
std::string CsvText(const std::string& text);

// The shortest text that reads back as v (JSON and CSV numbers); "null" when not finite.
std::string NumberText(double v);

// Writes the whole file, owner-only (0600), or leaves what was there: false with *error
// naming the file. The CSV exports and the PDF record both go through here.
bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* error);

} // namespace dm::records
