#pragma once
// Corrections of a readout's total dose. A correction is a row of its own naming the
// corrected readout, who made it, when and why; the readout itself is never changed, so
// the dose accounting (which takes a readout's latest correction) and the audit trail
// both follow from the rows.
#include "records/records_repository.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dm::records {

struct CorrectionInput {
    std::int64_t readoutId = 0;
    double totalDose = 0.0; // Sv, finite and not negative
    std::string reason;     // not blank
    std::string by;         // the person; on PostgreSQL the server's login is recorded instead
    UtcSeconds at = 0;      // when; on PostgreSQL the server's time is recorded instead
};

// Stores the correction and gives its id. Throws RecordsError: Refused (nothing stored)
// for an unknown readout, a bad dose or a blank reason; WriteFailed when the database
// refuses (a login without the administrator role on a shared database).
std::int64_t CorrectReadout(RecordsRepository& repo, const CorrectionInput& correction);

// The serial of the dosimeter a readout belongs to; nothing when there is no such readout.
std::optional<std::string> SerialOfReadout(RecordsRepository& repo, std::int64_t readoutId);

// The audit trail of a dosimeter: RecordsRepository::history with its corrections as
// "correct" entries (changes: total_val before and after, the reason, the readout),
// oldest first.
std::vector<HistoryEntry> HistoryWithCorrections(RecordsRepository& repo, const std::string& serial);

} // namespace dm::records
