#pragma once
// The records are health data: a database or spool file that other users of the computer
// can read is worth one warning, naming the file and how to close it.
#include <filesystem>
#include <optional>
#include <string>

namespace dm::records {

struct DatabaseUrl;

// A sentence for the user when `file` (a database or spool) or its folder lets other
// users read it; nothing when it is private, missing, or on Windows (the profile folder
// keeps it private there).
std::optional<std::string> ReadableByOthers(const std::filesystem::path& file, const std::string& what);

// The same for the database a URL names (only an SQLite file can be exposed this way).
std::optional<std::string> DatabaseReadableByOthers(const DatabaseUrl& url);

} // namespace dm::records
