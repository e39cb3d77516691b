#pragma once
// The dose accounting of one dosimeter over its readouts in time order:
//   the first readout is the baseline (increment 0, "baseline");
//   an erase recorded after the previous readout and at or before this one restarted the
//   counter: increment = this total dose, "after-erase";
//   else a total dose not below the previous one: increment = the difference;
//   else the counter went down with no erase recorded: increment = this total, "reset".
// A readout whose total is missing ("no-dose") or is no dose at all (negative, empty,
// unreadable, "nan", "inf": "invalid-dose") carries no increment and is not the previous
// readout of the next one: the next readout with a dose is accounted against the last
// readout that had one, so a bad reading neither counts nor charges anyone the
// dosimeter's lifetime total.
// A readout's increment belongs to the wearer whose assignment holds its time as
// from < at <= until (until open while assigned).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dm::records {

struct Accounted {
    std::optional<double> increment; // none when the readout carried no dose
    std::vector<std::string> flags;
};

struct AccountingReadout {
    std::int64_t at = 0;
    std::optional<double> totalDose;
    bool invalidDose = false; // a total was read but is no dose
};

struct Assignment {
    std::string wearer;
    std::int64_t from = 0;
    std::optional<std::int64_t> until;
};

// readouts in time order; erases: times of recorded erases (any order).
std::vector<Accounted> AccountReadouts(const std::vector<AccountingReadout>& readouts,
                                       std::vector<std::int64_t> erases);

// The wearer whose assignment holds time `at` (from < at <= until), if any.
std::optional<std::string> WearerAt(const std::vector<Assignment>& assignments, std::int64_t at);

// A "total_val" text read as a dose in Sv: the dosimeter's number format, the whole text
// (blanks around it aside), finite and not negative; nothing for any other text. The value
// is the nearest double to the decimal written ("4.25E-03" is 0.00425, where scaling by
// tens one step at a time gives 0.0042499999999999994).
std::optional<double> DoseFromText(std::string_view text);

// later - earlier without the noise of binary fractions: the difference of two decimal
// readings rounded to the digits the readings carry (0.018 - 0.013 is 0.005, not
// 0.004999999999999999).
double DoseDifference(double later, double earlier);

} // namespace dm::records
