#include "core/reply_text.h"
#include "history/dose_archive.h"
#include "history/history_table.h"
#include "history/table_save.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void CheckInside(const dm::DoseArchive& archive, dm::TextSpan span) {
    if (std::size_t{span.offset} + span.length > archive.replyText().size())
        std::abort();
}

} // namespace

// Archive reply bytes, taken in as the pickup does, into the archive and back out as the
// tables show and save it. Every text as received must lie inside the reply text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const dm::DoseArchive archive = dm::ParseDoseArchive(
        dm::ReplyTextFromBytes(std::string_view(reinterpret_cast<const char*>(data), size)), 60.0);
    for (const dm::GammaDoseRecord& r : archive.gamma())
        CheckInside(archive, r.doseText);
    for (const dm::NeutronDoseRecord& r : archive.neutron()) {
        CheckInside(archive, r.doseText);
        CheckInside(archive, r.coefficientText);
        CheckInside(archive, r.timeText);
    }
    const dm::Language lang = size % 2 ? dm::Language::Russian : dm::Language::English;
    const dm::HistoryTable dose(archive, dm::HistoryTab::Dose, lang);
    const dm::HistoryTable neutron(archive, dm::HistoryTab::Neutron, lang);
    for (const dm::HistoryTable* table : {&dose, &neutron})
        for (int row = 0; row < table->rowCount(); ++row)
            for (int col = 0; col < table->colCount(); ++col)
                (void)table->text(row, col);
    (void)dm::DoseTableFileBytes(dose);
    (void)dm::NeutronTableFileBytes(neutron);
    return 0;
}
