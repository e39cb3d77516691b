#pragma once
// "locale.cfg" (interface language) and "system.cfg" (protected-parameter mask),
// read once when the main window is built and written once when it goes. They live in
// the user's settings folder; earlier versions kept them in the working folder.
#include "core/message_sink.h"
#include "core/string_table.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace dm {

struct InterfaceSettings {
    Language language = Language::Russian;
    int access = 0;     // bit set of unlocked protected groups
};

// The mask as stored: (mask x 3187) << 2 in 32-bit arithmetic, and back.
std::int32_t ScrambleAccessMask(int mask);
int UnscrambleAccessMask(std::int32_t stored);

// Decoding of the two files' texts.
int AccessMaskFromText(std::string_view systemCfg);
Language LanguageFromText(std::string_view localeCfg); // any "en" gives English, else Russian

// The folder the window keeps its settings in: $XDG_CONFIG_HOME/dosimeter-manager, else
// ~/.config/dosimeter-manager (the folder of infrared.ini too).
std::filesystem::path DefaultSettingsFolder();

// The settings as the window starts. A file missing in `folder` but present in
// `oldFolder` (the working folder, where earlier versions kept it) is moved: written whole
// into `folder`, and only then removed from `oldFolder`; a move that fails leaves the old
// file where it is and reads it from there. Each move, and each file that is there but
// cannot be read, is one line through notes. Files in neither place give the defaults
// without a word: a first start is no error.
InterfaceSettings LoadSettingsAtStart(const std::filesystem::path& folder, const std::filesystem::path& oldFolder,
                                      MessageSink& notes);

// Reads "system.cfg", then "locale.cfg", from dir; a missing file is reported through
// messages (in English, as the language is not known yet) and gives its default.
InterfaceSettings LoadInterfaceSettings(const std::filesystem::path& dir, MessageSink& messages);

// Writes "locale.cfg" ("en" or "ru"), then "system.cfg" (the scrambled mask); a failure
// on the first skips the second. Each file is replaced whole or not at all.
// Returns false when either could not be written, and then, when error is given, names
// the file and why ("locale.cfg: Read-only file system").
bool SaveInterfaceSettings(const std::filesystem::path& dir, const InterfaceSettings& settings,
                           std::string* error = nullptr);

// The save as the program ends, into dir (made when missing): a failure is told to the user through messages, in the
// language of the settings, and returned as that text (empty when both files were written),
// so the caller can also print it and end with a failure code.
std::string SaveSettingsAtExit(const std::filesystem::path& dir, const InterfaceSettings& settings,
                               MessageSink& messages);

} // namespace dm
