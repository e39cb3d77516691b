#pragma once
// Whole-file reading and crash-safe whole-file writing.
#include "core/language.h"
#include "core/message_sink.h"

#include <filesystem>
#include <optional>
#include <string>

namespace dm {

// Reads the whole file as bytes. When it cannot be opened, tells the user
// "File not found" (string 128 in the given language) and the file name, separated by
// one blank, and returns an empty text.
std::string ReadTextFile(const std::filesystem::path& path, Language language, MessageSink& messages);

// Reads the whole file; nothing when it cannot be opened or read. No message.
std::optional<std::string> TryReadFile(const std::filesystem::path& path);

// How a whole-file replacement ended.
struct FileReplaceStatus {
    int error = 0;        // errno value of the first failure; 0 when the file was replaced
    bool created = false; // a temporary file was made (a failure came while writing it
                          // or putting it in place)
    explicit operator bool() const { return error == 0; }
};

// Who may read the written file. OwnerOnly is for files that hold personal data (the
// records' exports): mode 0600 from the moment the temporary file exists, whatever the
// umask and whatever mode the replaced file had. POSIX only; Windows files keep the
// folder's inherited rights.
enum class FileAccess { KeepOrDefault, OwnerOnly };

// Writes the bytes to a temporary file of a unique name in the target's folder (never a
// "*.txt" name, so the reply pickup leaves it alone), flushes it to the disk and renames
// it over the target only when it is complete. So a failed or interrupted write leaves
// the old file byte for byte whole, and a failure removes the temporary file. A replaced
// file keeps its permission bits (KeepOrDefault; a new one gets 0666 less the umask); a
// symbolic link is kept and its target replaced.
FileReplaceStatus ReplaceFileWhole(const std::filesystem::path& path, const std::string& bytes,
                                   FileAccess access = FileAccess::KeepOrDefault);

// ReplaceFileWhole with the failure as text ("FILE: reason") when error is given.
bool WriteFileAtomically(const std::filesystem::path& path, const std::string& bytes,
                         std::string* error = nullptr, FileAccess access = FileAccess::KeepOrDefault);

// The folder of the running executable (empty when it cannot be found).
std::filesystem::path ExecutableDir();

// A data file shipped with the program ("Commands.lst"): the current directory first,
// then beside the executable, then the installed data folder. When none exists, the bare
// name (so that the not-found message names it).
std::filesystem::path FindDataFile(const std::string& name);

} // namespace dm
