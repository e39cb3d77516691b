#pragma once
// Entries of the status log: the local time, two blanks, the message.
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

} // namespace dm
