#pragma once
// The command files behind the four action buttons, and how each exchange starts.
// A command file is composed in memory and pushed as "command.txt"; the texts returned
// here are its bytes: Windows-1251, every line ending in CR LF.
#include "core/language.h"
#include "core/message_sink.h"
#include "params/parameter_set.h"
#include "params/parameter_table.h"

#include <string>
#include <vector>

namespace dm {

// What a command asks the dosimeter for.
enum class ExchangeRequest { None, Parameters, Changes, DoseHistory, EraseTotalDose };

struct ExchangeStart {
    ExchangeRequest request = ExchangeRequest::None;
    bool started = false; // false: nothing happens at all (cancelled / refused)
    std::vector<std::string>
        files;             // command files to push, in order, Windows-1251 bytes with CR LF
    int tickPreset = 0;    // exchange tick counter preset (0, -4, -30)
    int progressSteps = 0; // ticks the answer usually takes; 0: the ticks to the deadline
    bool resetHistoryView =
        false; // "get dose history": the window shows the parameter grid alone first
    bool noHistoryRecords = false; // refused: the dosimeter holds no history to send
};

// The device password that opens the protected values while any group is unlocked.
inline constexpr const char* kDevicePassword = "mervatun";

// The fixed command files.
std::string GetParametersCommand(int access); // with the password lines while access != 0
std::string EraseTotalDoseCommand();
std::string GetArchiveCommand();

// "Get parameters" (also a dosimeter arriving, and the password entry).
ExchangeStart ComposeGetParameters(int access);

// "Erase total dose": asks string 113 first; anything but Yes sends nothing.
ExchangeStart ComposeEraseTotalDose(Language language, UserDialogs& dialogs);

// "Get dose history" for the rows the table shows (ParameterRows): nothing without a
// parameter row; a neutron depth of "0" sends nothing and sets noHistoryRecords, which the
// window tells the user.
ExchangeStart ComposeGetDoseHistory(const ParameterSet& set, const std::vector<ParameterRow>& rows);

// The value of a parameter as "Send changes" sends it: the interface's words for the
// switches ("включить" and "отключить" in Russian) typed into any cell go out as the
// dosimeter's "enable" and "disable"; a quoted text (the owner's) goes out as typed.
std::string ValueToSend(const Parameter& p, Language language);

// "Send changes into dosimeter": the touched, editable rows (RowIsModified) in table order,
// in blocks of at most eleven lines, the last block with the signal lines and the renewed
// parameter request. A table without a parameter row sends nothing, though the exchange
// still starts (and so times out) as it does in the window. model: the model the window
// last heard from; language: the interface language the values were typed in.
ExchangeStart ComposeSendChanges(const ParameterSet& set, const std::vector<ParameterRow>& rows,
                                 Model model, Language language);

} // namespace dm
