#pragma once
// The printed forms of the parameter table, shared by `params` and `read-params`.
#include "core/language.h"
#include "params/parameter_set.h"

#include <string>

namespace dm::cli {

// The --access value as a mask; 0 when not given, a usage failure when not a mask.
int AccessMaskOption(const std::string& text);

// The parameter table of a reply read once (emptyReply: the reply had no bytes at all),
// printed as `params` prints it: one line per row (name, TAB, key, TAB, value), or with
// json the JSON object.
std::string ParameterTableOutput(const ParameterSet& set, bool emptyReply, const std::string& catalogue,
                                 Language language, int access, bool json,
                                 const std::string& catalogueName = "Commands.lst");

} // namespace dm::cli
