#pragma once
// Whole-file reading and crash-safe whole-file writing.
#include "core/message_sink.h"

#include <filesystem>
#include <optional>
#include <string>

namespace dm {

// Reads the whole file as bytes. When it cannot be opened, tells the user
// "File not found" (string 128 in the given language) and the file name, separated by
// one blank, and returns an empty text.
std::string ReadTextFile(const std::filesystem::path& path, int langBase, MessageSink& messages);

// Reads the whole file; nothing when it cannot be opened or read. No message.
std::optional<std::string> TryReadFile(const std::filesystem::path& path);

// How a whole-file replacement ended.
struct FileReplaceStatus {
    int error = 0;        // errno value of the first failure; 0 when the file was replaced
    bool created = false; // a temporary file was made (a failure came while writing it
                          // or putting it in place)
    explicit operator bool() const { return error == 0; }
};

// Writes the bytes to a temporary file of a unique name in the target's folder (never a
// "*.txt" name, so the reply pickup leaves it alone), flushes it to the disk and renames
// it over the target only when it is complete. So a failed or interrupted write leaves
// the old file byte for byte whole, and a failure removes the temporary file. A replaced
// file keeps its permission bits; a symbolic link is kept and its target replaced.
// mode (Unix permission bits, e.g. 0600 for personal data), when given, is the new file's
// mode instead, whatever the umask and the replaced file's mode: the bytes are never
// readable by others, not even for a moment.
FileReplaceStatus ReplaceFileWhole(const std::filesystem::path& path, const std::string& bytes,
                                   std::optional<unsigned> mode = std::nullopt);

// ReplaceFileWhole with the failure as text ("FILE: reason") when error is given.
bool WriteFileAtomically(const std::filesystem::path& path, const std::string& bytes,
                         std::string* error = nullptr);

// The folder of the running executable (empty when it cannot be found).
std::filesystem::path ExecutableDir();

// A data file shipped with the program ("Commands.lst"): the current directory first,
// then beside the executable, then the installed data folder. When none exists, the bare
// name (so that the not-found message names it).
std::filesystem::path FindDataFile(const std::string& name);

} // namespace dm
