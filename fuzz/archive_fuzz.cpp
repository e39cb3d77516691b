#include "core/reply_text.h"
#include "history/archive_parse.h"
#include "history/history_table.h"
#include "history/table_save.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

// Archive reply bytes, taken in as the pickup does, into both tables and back out as saved
// tables. Every row the parse sized must carry its record number.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text =
        dm::ReplyTextFromBytes(std::string_view(reinterpret_cast<const char*>(data), size));
    dm::HistoryTable dose, neutron;
    dm::ParseArchiveReply(text, 60.0, size % 2 ? 300 : 0, dose, neutron);
    for (int row = 1; row < dose.rowCount(); ++row)
        if (dose.text(row, 0) != std::to_string(row))
            std::abort();
    for (int row = 1; row < neutron.rowCount(); ++row)
        if (neutron.text(row, 0) != std::to_string(row))
            std::abort();
    (void)dm::DoseTableFileBytes(dose);
    (void)dm::NeutronTableFileBytes(neutron);
    return 0;
}
