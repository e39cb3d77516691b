#pragma once
// The printed forms of the history tables, shared by `archive` and `read-archive`.
#include "core/language.h"
#include "history/dose_archive.h"

#include <string>

namespace dm::cli {

// Reads the archive reply text; a text too large for an archive ends the tool with a
// message naming `source`.
DoseArchive ParseArchiveOrFail(std::string text, double historyInterval, const std::string& source);

// "# dose history", the dose table's rows (heading row first, hidden columns included,
// cells TAB-separated); then, for a reply with a neutron section, "# neutron history" and
// that table the same way. Written to stdout as it goes.
void WriteArchiveTablesText(const DoseArchive& archive, Language language);

// {"layout", "has_neutron", "tabs" (tab 0 first), "dose": {"widths", "rows"},
//  "neutron": {...} | null}, written to stdout as it goes.
void WriteArchiveTablesJson(const DoseArchive& archive, Language language);

} // namespace dm::cli
