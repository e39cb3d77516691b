#pragma once
// Times of the records: ISO 8601 UTC with seconds, exactly YYYY-MM-DDThh:mm:ssZ.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dm::records {

// Nothing for any other form, or for a date that does not exist (2026-02-30).
std::optional<std::int64_t> ParseUtcTime(std::string_view text);
std::string FormatUtcTime(std::int64_t secondsSinceEpoch);
std::int64_t UtcNow();

} // namespace dm::records
