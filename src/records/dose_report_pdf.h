#pragma once
// Prints a wearer's yearly dose record as a PDF through Qt's PDF writer (needs a
// QGuiApplication for its fonts).
#include "records/dose_report.h"

#include <string>

namespace dm::records {

// Writes the whole file or nothing: false with *error naming the file when it cannot be
// written.
bool WriteDoseRecordPdf(const DoseRecordReport& report, const std::string& path, std::string* error);

} // namespace dm::records
