#pragma once
// Prints a wearer's yearly dose record as a PDF (A4): the rows painted page by page
// straight into Qt's PDF writer, so time and memory grow with the number of readouts and
// no faster; every page names the site, the wearer and the year, repeats the table's
// header and says "page X of Y". The file is made in memory and written whole, owner-only.
// Needs a QGuiApplication for its fonts.
#include "core/language.h"
#include "records/dose_report.h"

#include <string>

namespace dm::records {

// The PDF's bytes, worded in the language of language.
std::string DoseRecordPdf(const DoseRecordReport& report, Language language);

// Writes the whole file (0600) or leaves what was there: false with *error naming the
// file when it cannot be written.
bool WriteDoseRecordPdf(const DoseRecordReport& report, const std::string& path, std::string* error,
                        Language language = Language::English);

} // namespace dm::records
