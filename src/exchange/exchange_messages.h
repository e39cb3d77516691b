#pragma once
// The status-log lines the exchange's events become, in the interface language.
#include "core/language.h"
#include "params/command_files.h"
#include "params/parameter_set.h"

#include <optional>
#include <string>

namespace dm {

// "Parameters requested, please wait." and the like; empty for ExchangeRequest::None.
std::string RequestMessage(ExchangeRequest request, Language language);

// "Dosimeter in range: KRT-17A, serial number 17-004217." from its parameters.
std::string InRangeMessage(const ParameterSet& parameters, Language language);

// What the renewed parameters after an erase say of it (totalBefore: the total dose the
// table showed when the erase went out); nothing when they carry no total.
std::optional<std::string> EraseMessage(std::optional<double> totalBefore, const ParameterSet& renewed,
                                        Language language);

} // namespace dm
