#pragma once
// A history table as CSV for spreadsheets: UTF-8, comma-separated, CR LF line ends, a heading
// row, one row per record. Numbers come from the archive at full precision; the shown texts
// are the table's, in its language.
//   Dose:    number, seconds, time, dose_sv, dose
//   Neutron: number, seconds, time, dose_sv, dose, coefficient
#include "history/history_table.h"

#include <string>
#include <string_view>

namespace dm {

// One field, quoted when it holds a comma, a quote, CR or LF (quotes doubled).
std::string CsvField(std::string_view text);

// Empty when the table has no record.
std::string HistoryCsvBytes(const DoseArchive& archive, const HistoryTable& table, HistoryTab tab);

} // namespace dm
