#pragma once
// The line-level rules every "key = value" text we read shares: replies, command files,
// infrared.ini. What a reader keeps of the value (quotes, blanks, comments) is its own
// business; where the key ends is not.
#include <string_view>

namespace dm {

// The text without the blanks (space, tab) at both ends.
std::string_view TrimBlanks(std::string_view text);

struct KeyValueLine {
    std::string_view key;   // before the first '=', without blanks and CR around it
    std::string_view value; // everything after that '=', exactly as written
    bool hasValue = false;  // the line has an '='; without one the whole line is the key
};

// Splits one line (without its line feed) at its first '='.
KeyValueLine SplitKeyValueLine(std::string_view line);

} // namespace dm
