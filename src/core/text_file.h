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

// Writes the bytes to a temporary file beside the target and renames it over the target,
// so an interrupted write leaves the old or the new file, never a truncated one.
// On failure returns false and, when error is given, a description of what failed.
bool WriteFileAtomically(const std::filesystem::path& path, const std::string& bytes,
                         std::string* error = nullptr);

// The folder of the running executable (empty when it cannot be found).
std::filesystem::path ExecutableDir();

// A data file shipped with the program ("Commands.lst"): the current directory first,
// then beside the executable, then the installed data folder. When none exists, the bare
// name (so that the not-found message names it).
std::filesystem::path FindDataFile(const std::string& name);

} // namespace dm
