#include "core/text_lines.h"

namespace dm {
namespace {

std::string_view Trim(std::string_view text, std::string_view blanks) {
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

} // namespace

std::string_view TrimBlanks(std::string_view text) { return Trim(text, " \t"); }

KeyValueLine SplitKeyValueLine(std::string_view line) {
    KeyValueLine out;
    const std::size_t eq = line.find('=');
    out.hasValue = eq != std::string_view::npos;
    // A CR before the '=' is what is left of a CR LF line end, never part of a key.
    out.key = Trim(line.substr(0, eq), " \t\r");
    if (out.hasValue)
        out.value = line.substr(eq + 1);
    return out;
}

} // namespace dm
