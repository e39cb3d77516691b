#pragma once
// The dose accounting of one dosimeter over its readouts in time order:
//   the first readout is the baseline (increment 0, "baseline");
//   an erase recorded after the previous readout and at or before this one restarted the
//   counter: increment = this total dose, "after-erase";
//   else a total dose not below the previous one: increment = the difference;
//   else the counter went down with no erase recorded: increment = this total, "reset".
// A readout's increment belongs to the wearer whose assignment holds its time as
// from < at <= until (until open while assigned).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dm::records {

struct Accounted {
    std::optional<double> increment; // none when the readout carried no total dose
    std::vector<std::string> flags;
};

struct AccountingReadout {
    std::int64_t at = 0;
    std::optional<double> totalDose;
};

struct Assignment {
    std::string wearer;
    std::int64_t from = 0;
    std::optional<std::int64_t> until;
};

// readouts in time order; erases: times of recorded erases (any order).
// A readout without a total dose gets no increment, flag "no-dose", and is skipped as
// the previous readout of the next one.
std::vector<Accounted> AccountReadouts(const std::vector<AccountingReadout>& readouts,
                                       std::vector<std::int64_t> erases);

// The wearer whose assignment holds time `at` (from < at <= until), if any.
std::optional<std::string> WearerAt(const std::vector<Assignment>& assignments, std::int64_t at);

} // namespace dm::records
