#pragma once
// The records of an archive reply, as the archive parse reads them: gamma records
// (seconds when the layout gives times, dose in Sv) and, for layout A, neutron records
// (seconds, Sv, spectrum coefficient), taken from the dose archive.
#include "history/dose_archive.h"
#include "records/records_repository.h"

#include <optional>
#include <string>
#include <string_view>

namespace dm::records {

struct ArchiveContent {
    char layout = 'B';
    std::vector<ArchiveRecord> records;
};

// The records of an archive already parsed.
ArchiveContent ArchiveRecordsOf(const DoseArchive& archive);
// reply: as picked up (UTF-8); interval: the "history_time" of the last parameter reply.
ArchiveContent ReadArchiveRecords(std::string_view reply, double interval);

// Why a file given as an archive reply is none (a program, a parameter reply, a letter):
// it holds control bytes no reply holds, or most of its records are no numbers. Nothing
// for a reply the dosimeter could have beamed, ragged lines and all.
std::optional<std::string> NotAnArchiveReply(std::string_view reply, const ArchiveContent& content);

} // namespace dm::records
