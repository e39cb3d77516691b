#pragma once
// "Save current table as...": the bytes of each tab's table as a text file (Windows-1251,
// CR LF), and the dialog flow that writes them to the file the user picks.
#include "core/language.h"
#include "core/message_sink.h"
#include "history/history_table.h"

#include <optional>
#include <string>

namespace dm {

// Tab 1: rows 0 to the last, "column 0 TAB column 1" each.
std::string DoseTableFileBytes(const HistoryTable& dose);

// Tab 2: a fixed heading line, then rows 1 to the last with five TAB-and-blank separated
// fields. Empty when the table holds no more than its heading row.
std::string NeutronTableFileBytes(const HistoryTable& neutron);

// The fixed, untranslated heading line of a saved neutron table (without its CR LF).
inline constexpr const char* kNeutronFileHeading = "# \t Dose \t\t Fast/Thermal \t Time,sec ";

struct SaveResult {
    bool saved = false;                  // every byte is in the file
    std::optional<std::string> skipName; // name + extension when a file of that name is there:
                                         // the reply pickup must never take it for a reply
    std::string error;                   // what went wrong, as told to the user; empty otherwise
};

// Asks for a file name (the dialog adds the default extension ".txt"); when the file exists,
// asks whether to overwrite it (string 115). Cancel and No change nothing. A regular file is
// written whole to a temporary file beside it and only then put in its place, so a failed
// save leaves the old file as it was and no new or partial file behind; a device is written
// into. Every failure is told to the user, naming the file and why.
SaveResult SaveTableFile(UserDialogs& dialogs, Language language, const std::string& bytes);

} // namespace dm
