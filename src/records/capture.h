#pragma once
// What the front ends store when a reply arrives, built in one place so the window and
// the CLI store the same: a parameter reply as a readout, an archive reply as a download.
#include "params/parameter_set.h"
#include "records/records_repository.h"

#include <optional>
#include <string>
#include <string_view>

namespace dm::records {

// This station and its user: the host name and the login name.
Origin LocalOrigin();

// The readout of a parameter reply: model, every parameter as received, the total dose
// (none when "total_val" is missing or is no dose: see DoseFromText).
// The serial comes from "serial_number", else fallbackSerial; nothing when neither has one.
std::optional<ReadoutInput> ReadoutFromParameters(const ParameterSet& set, UtcSeconds at, Origin origin,
                                                  const std::string& fallbackSerial = {});

// A dose-history download of the archive reply (as picked up), read with interval seconds
// between gamma records (the "history_time" of the last parameter reply).
HistoryDownloadInput DownloadFromArchive(std::string_view reply, double interval, const std::string& serial,
                                         UtcSeconds at, Origin origin);

} // namespace dm::records
