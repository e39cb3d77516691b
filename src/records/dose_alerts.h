#pragma once
// Alerts on a stored readout: the levels (investigation level, annual, single-year and
// five-year limits) that this readout's increment took its wearer's dose to or over. A
// level already passed before the readout is not told again.
#include "records/dose_of_record.h"

#include <string>
#include <string_view>
#include <vector>

namespace dm::records {

struct DoseAlert {
    std::string wearer;    // ID
    std::string name;      // the wearer's name
    std::string limit;     // "investigation", "annual", "single_year", "five_year"
    double dose = 0.0;     // the year's (or the five years') dose with this readout, Sv
    double limitSv = 0.0;
    std::string text;      // one sentence naming the wearer, the dose and the limit
};

// For the readout of `serial` taken at `at` (already stored); none when it has no wearer,
// no increment, or passes no level. RecordsError as the reads it makes.
std::vector<DoseAlert> AlertsForReadout(const DoseOfRecord& records, RecordsRepository& repo,
                                        const std::string& serial, UtcSeconds at);

// The texts of AlertsForReadout for a readout just stored; none when the records cannot
// be read (the readout is stored; a failed look at the dose must not undo that).
std::vector<std::string> DoseAlertTexts(RecordsRepository& repo, const ReadoutInput& readout);

// "KRT-17A 17-004217, worn by Petrova (W-01)", or without the wearer part when none.
std::string WornByText(const DoseOfRecord& records, const std::string& model, const std::string& serial);

// The status line for a parameter reply (UTF-8) just arrived: whose dosimeter answered;
// empty when the reply has no serial number or the dosimeter is not handed out.
std::string WearerStatusLine(const DoseOfRecord& records, std::string_view parameterReply);

} // namespace dm::records
