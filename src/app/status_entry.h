#pragma once
// Entries of the status log: the local time, two blanks, the message; and the messages
// the exchange's events become, in the interface language.
#include "params/command_files.h"
#include "params/parameter_set.h"

#include <optional>
#include <string>

namespace dm {

struct ClockTime {
    int hour = 0, minute = 0, second = 0;
};

// The program's own messages: "09:05:03  text".
std::string PaddedStatusEntry(ClockTime time, const std::string& message);

// A text from the dosimeter: "9:5:3  text", every CR and LF of the text turned into a blank
// so the entry stays one line.
std::string RawStatusEntry(ClockTime time, const std::string& message);

// "Parameters requested, please wait." and the like; empty for ExchangeRequest::None.
std::string RequestMessage(ExchangeRequest request, int langBase);

// "Dosimeter in range: KRT-17A, serial number 17-004217." from its parameters.
std::string InRangeMessage(const ParameterSet& parameters, int langBase);

// What the renewed parameters after an erase say of it (totalBefore: the total dose the
// table showed when the erase went out); nothing when they carry no total.
std::optional<std::string> EraseMessage(std::optional<double> totalBefore, const ParameterSet& renewed,
                                        int langBase);

} // namespace dm
