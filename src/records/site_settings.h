#pragma once
// The site's settings kept in the records database, so every station prints the same
// heading: today the site's name on the dose record. Each change is a row of its own with
// who and when; the latest holds.
#include "records/records_repository.h"

#include <optional>
#include <string>

namespace dm::records {

// The site's name; nothing while none was set.
std::optional<std::string> SiteName(RecordsRepository& repo);

// Sets the site's name. RecordsError(Refused), nothing stored, for a name that is blank,
// not UTF-8, holds a control character or is longer than 200 characters. On PostgreSQL the
// login the server checked is recorded as who set it, not `by`.
void SetSiteName(RecordsRepository& repo, const std::string& name, const std::string& by, UtcSeconds at);

} // namespace dm::records
