#pragma once
// The yearly dose record of one wearer: who, which year, every readout attributed to them
// that year, the year's and the five years' doses against the limits, and the limits
// reached in plain words. Built here without Qt Gui; dose_report_pdf.h prints it.
#include "records/dose_of_record.h"

#include <string>
#include <vector>

namespace dm::records {

struct DoseRecordReport {
    Wearer wearer;
    AnnualDose annual;
    std::vector<AttributedReadout> readouts; // attributed to the wearer in the year
    std::vector<HistoryEntry> corrections;   // of those readouts, oldest first
};

// RecordsError(Refused) for an unknown wearer.
DoseRecordReport BuildDoseRecordReport(const DoseOfRecord& records, const std::string& wearer, int year);

// One sentence per limit reached ("... reached or passed ..."), or one saying none was.
std::vector<std::string> LimitsInWords(const AnnualDose& annual);

// The record as an HTML document (UTF-8) for a text document to lay out and print.
std::string DoseRecordHtml(const DoseRecordReport& report);

} // namespace dm::records
