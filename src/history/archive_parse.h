#pragma once
// Turns the dosimeter's archive reply into the history tables. The reply comes in two
// layouts, told apart by a TAB anywhere in the text:
//   A (KRT-17A): a heading line, gamma dose lines, then neutron lines with TABs;
//   B (MLV-52B): four heading lines, then gamma dose lines, no times.
// The tables are the only store of the archive: saving and the diagrams read them back.
#include "history/history_table.h"

#include <string>
#include <string_view>
#include <vector>

namespace dm {

struct ArchiveParseResult {
    bool neutron = false;               // the model flag: the reply holds a TAB
    char layout = 'B';                  // 'A' with a neutron section, 'B' without
    std::vector<std::string> tabLabels; // labels of tab 1 (and tab 2 in layout A)
};

// text: the reply as picked up (UTF-8, each beamed line end turned into CR CR LF).
// historyInterval: seconds between two gamma records (the "history_time" parameter).
// Replaces the dose table in both layouts and the neutron table in layout A; layout B
// leaves the neutron table alone. Never fails: malformed lines are read as far as they go,
// scans stop at the end of the text and never write outside the rows they sized.
// The "Display as diagram" button is shown after every parse, whatever the result.
ArchiveParseResult ParseArchiveReply(std::string_view text, double historyInterval, int langBase,
                                     HistoryTable& dose, HistoryTable& neutron);

// Seconds of gamma record `record`: record x interval, truncated toward zero (NaN gives 0,
// values beyond the range of long long saturate).
long long GammaRecordSeconds(int record, double historyInterval);

} // namespace dm
