#pragma once
// The records as the station's spool holds them: one compact JSON object a record. Spools
// written by earlier versions are read as they are (the fields only ever grow), so a
// record left in a station's spool is never lost to an upgrade.
#include "records/records_repository.h"

#include <optional>
#include <string>
#include <variant>

namespace dm::records {

using RecordEntry = std::variant<ReadoutInput, HistoryDownloadInput, EraseInput, ChangesInput>;

// The entry as spooled text, and back (nothing for a text that is not one).
std::string EntryToJson(const RecordEntry& entry);
std::optional<RecordEntry> EntryFromJson(const std::string& text);

} // namespace dm::records
