#include "records/archive_records.h"

#include "history/dose_archive.h"
#include "records/dose_accounting.h"

#include <cerrno>
#include <cstdlib>
#include <string>

namespace dm::records {
namespace {

std::optional<std::int64_t> WholeSeconds(std::string_view view) {
    const std::string text(view);
    std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return std::nullopt;
    const char* start = text.c_str() + begin;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(start, &end, 10);
    if (end == start || errno == ERANGE)
        return std::nullopt;
    for (const char* p = end; *p; ++p)
        if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n')
            return std::nullopt;
    return value;
}

// A dose as an archive line writes it: a number, signed or not, and nothing else.
bool IsNumberText(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first != std::string_view::npos && text[first] == '-')
        text.remove_prefix(first + 1);
    return DoseFromText(text).has_value();
}

} // namespace

std::optional<std::string> NotAnArchiveReply(std::string_view reply, const ArchiveContent& content) {
    for (const char c : reply) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t' && c != '\r' && c != '\n') || byte == 0x7f)
            return "it holds control bytes no reply holds";
    }
    std::size_t numbers = 0;
    for (const ArchiveRecord& r : content.records)
        numbers += IsNumberText(r.doseText);
    if (numbers * 2 < content.records.size())
        return "only " + std::to_string(numbers) + " of its " + std::to_string(content.records.size()) +
               " lines read as doses";
    return std::nullopt;
}

ArchiveContent ReadArchiveRecords(std::string_view reply, double interval) {
    return ArchiveRecordsOf(ParseDoseArchive(std::string(reply), interval));
}

ArchiveContent ArchiveRecordsOf(const DoseArchive& archive) {
    const bool layoutA = archive.layout() == ArchiveLayout::A;
    ArchiveContent out;
    out.layout = layoutA ? 'A' : 'B';
    out.records.reserve(archive.gamma().size() + archive.neutron().size());
    int number = 0;
    for (const GammaDoseRecord& g : archive.gamma()) {
        ArchiveRecord r;
        r.section = ArchiveRecord::Section::Gamma;
        r.number = ++number;
        r.doseText = std::string(archive.text(g.doseText));
        r.dose = g.sv;
        if (layoutA) // layout B beams no times
            r.seconds = g.seconds;
        out.records.push_back(std::move(r));
    }
    number = 0;
    for (const NeutronDoseRecord& n : archive.neutron()) {
        ArchiveRecord r;
        r.section = ArchiveRecord::Section::Neutron;
        r.number = ++number;
        r.doseText = std::string(archive.text(n.doseText));
        r.dose = n.sv;
        r.coefficient = std::string(archive.text(n.coefficientText));
        r.seconds = WholeSeconds(archive.text(n.timeText));
        out.records.push_back(std::move(r));
    }
    return out;
}

} // namespace dm::records
