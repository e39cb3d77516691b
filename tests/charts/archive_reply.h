#pragma once
// Dose archives for the chart tests, parsed from replies as the pickup hands them over:
// gamma record r holds r.0E-06 Sv; neutron record r holds r.0E-07 Sv at 60 r seconds.
// With neutron records the reply has layout A, without them layout B (gamma only).
#include "history/dose_archive.h"

#include <string>

namespace dm {

inline DoseArchive ArchiveOf(int gamma, int neutron) {
    std::string text = neutron > 0 ? "h\r\r\n" : "a\r\r\nb\r\r\nc\r\r\nd\r\r\n";
    for (int r = 1; r <= gamma; ++r)
        text += (r == 1 && neutron > 0 ? " " : "") + std::to_string(r) + ".0E-06\r\r\n";
    for (int r = 1; r <= neutron; ++r)
        text += std::to_string(r) + ".0E-07\t1.00\t " + std::to_string(60 * r) + "\r\r\n";
    return ParseDoseArchive(std::move(text), 60.0);
}

} // namespace dm
