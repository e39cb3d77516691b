#include "records/dose_accounting.h"

#include <algorithm>

namespace dm::records {

std::vector<Accounted> AccountReadouts(const std::vector<AccountingReadout>& readouts,
                                       std::vector<std::int64_t> erases) {
    std::sort(erases.begin(), erases.end());
    std::vector<Accounted> out(readouts.size());
    const AccountingReadout* previous = nullptr;
    for (std::size_t i = 0; i < readouts.size(); ++i) {
        const AccountingReadout& r = readouts[i];
        Accounted& a = out[i];
        if (!r.totalDose) {
            a.flags.push_back("no-dose");
            continue;
        }
        const double total = *r.totalDose;
        if (!previous) {
            a.increment = 0.0;
            a.flags.push_back("baseline");
        } else {
            // An erase in (previous.at, r.at] restarted the counter.
            const auto next = std::upper_bound(erases.begin(), erases.end(), previous->at);
            if (next != erases.end() && *next <= r.at) {
                a.increment = total;
                a.flags.push_back("after-erase");
            } else if (total >= *previous->totalDose) {
                a.increment = total - *previous->totalDose;
            } else {
                a.increment = total;
                a.flags.push_back("reset");
            }
        }
        previous = &r;
    }
    return out;
}

std::optional<std::string> WearerAt(const std::vector<Assignment>& assignments, std::int64_t at) {
    for (const Assignment& a : assignments) {
        if (a.from < at && (!a.until || at <= *a.until))
            return a.wearer;
    }
    return std::nullopt;
}

} // namespace dm::records
