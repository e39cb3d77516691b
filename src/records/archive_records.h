#pragma once
// The records of an archive reply, as the archive parse reads them: gamma records
// (seconds when the layout gives times, dose in Sv) and, for layout A, neutron records
// (seconds, Sv, spectrum coefficient), taken from the dose archive.
#include "records/records_repository.h"

#include <string_view>

namespace dm::records {

struct ArchiveContent {
    char layout = 'B';
    std::vector<ArchiveRecord> records;
};

// reply: as picked up (UTF-8); interval: the "history_time" of the last parameter reply.
ArchiveContent ReadArchiveRecords(std::string_view reply, double interval);

} // namespace dm::records
