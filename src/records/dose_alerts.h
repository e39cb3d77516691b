#pragma once
// Alerts on a stored readout: the levels (investigation level, annual, single-year and
// five-year limits) that this readout's increment took its wearer's dose to or over. A
// level already passed before the readout is not told again.
#include "core/language.h"
#include "records/dose_of_record.h"

#include <string>
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
// no increment, or passes no level. RecordsError as the reads it makes. language: the
// language of the texts.
std::vector<DoseAlert> AlertsForReadout(const DoseOfRecord& records, RecordsRepository& repo,
                                        const std::string& serial, UtcSeconds at, Language language = Language::English);

// What a readout just stored tells: a status note saying whose dosimeter it is (when it
// is worn) and the texts of its alerts. Nothing when the records cannot be read (the
// readout is stored; a failed look at the dose must not undo that).
struct ReadoutTold {
    std::vector<std::string> notes;
    std::vector<std::string> alerts;
};
ReadoutTold TellStoredReadout(RecordsRepository& repo, const ReadoutInput& readout, Language language = Language::English);

// "KRT-17A 17-004217, worn by Petrova (W-01)", or without the wearer part when none.
std::string WornByText(const DoseOfRecord& records, const std::string& model, const std::string& serial,
                       Language language = Language::English);

} // namespace dm::records
