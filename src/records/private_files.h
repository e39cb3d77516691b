#pragma once
// The records are health data. Folders made for them are the owner's alone (0700, whatever
// the umask); a database another user owns, or that others could write or replace, is
// refused; one that others can only read is worth one warning; exports are written
// owner-only (0600).
#include "core/text_file.h"

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

// Makes the folder and each missing folder above it, each 0700 (only those it makes).
// False with *error (naming the folder) when one cannot be made.
bool CreatePrivateFolders(const std::filesystem::path& folder, std::string* error);

// Why `file` (a database or spool; it may not exist yet) must not be used: it or its
// folder belongs to another user, or others may write it or the folder (so they could
// change the records or put a file of theirs in its place). Nothing when it is safe, and
// on Windows (the profile folder keeps it private there).
std::optional<std::string> UnsafeRecordsFile(const std::filesystem::path& file, const std::string& what);

// Owner only: read and write for the user alone.
inline constexpr unsigned kPrivateFileMode = 0600;

// ReplaceFileWhole for files that hold names, birth dates and doses (CSV and PDF
// exports): the file is written owner-only (0600) whatever the umask or the mode of the
// file it replaces.
inline FileReplaceStatus ReplacePrivateFileWhole(const std::filesystem::path& path, const std::string& bytes) {
    return ReplaceFileWhole(path, bytes, FileAccess::OwnerOnly);
}

} // namespace dm::records
