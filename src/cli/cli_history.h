#pragma once
// The printed forms of the history tables, shared by `archive` and `read-archive`.
#include "history/archive_parse.h"
#include "history/history_table.h"

#include <string>

namespace dm::cli {

// "# dose history", the dose table's rows (heading row first, hidden columns included,
// cells TAB-separated); then, for a reply with a neutron section, "# neutron history" and
// that table the same way.
std::string ArchiveTablesText(const ArchiveParseResult& parse, const HistoryTable& dose,
                              const HistoryTable& neutron);

// {"layout", "has_neutron", "tabs" (tab 0 first), "dose": {"widths", "rows"},
//  "neutron": {...} | null}
std::string ArchiveTablesJson(const ArchiveParseResult& parse, const HistoryTable& dose,
                              const HistoryTable& neutron, int langBase);

} // namespace dm::cli
