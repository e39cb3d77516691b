#pragma once
// The printed forms of the parameter table, shared by `params` and `read-params`.
#include "core/language.h"

#include <string>

namespace dm::cli {

// The --access value as a mask; 0 when not given, a usage failure when not a mask.
int AccessMaskOption(const std::string& text);

// The parameter table filled from the reply text, printed as `params` prints it: one
// line per row (name, TAB, key, TAB, value), or with json the JSON object.
std::string ParameterTableOutput(const std::string& reply, const std::string& catalogue,
                                 Language language, int access, bool json,
                                 const std::string& catalogueName = "Commands.lst");

} // namespace dm::cli
