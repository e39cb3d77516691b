#include "core/reply_text.h"
#include "core/text_file.h"
#include "params/catalogue.h"
#include "params/command_files.h"
#include "params/parameter_set.h"
#include "params/parameter_table.h"
#include "params/row_presentation.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

const std::string& ShippedCatalogue() {
    static const std::string catalogue =
        dm::DecodeCatalogue(dm::TryReadFile(DM_SOURCE_DIR "/data/Commands.lst").value_or(""));
    return catalogue;
}

} // namespace

// Parameter reply bytes, taken in as the pickup does, into the table with the shipped
// catalogue; then the table goes back out as a saved table and, with every parameter
// touched, as the "send changes" command files. The first byte picks the access mask and language.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const int access = data[0] & 7;
    const dm::Language language = (data[0] & 8) ? dm::Language::Russian : dm::Language::English;
    const std::string reply =
        dm::ReplyTextFromBytes(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));

    dm::ParameterSet set = dm::ReadParameterSet(reply);
    const auto rows = dm::ParameterRows(set, ShippedCatalogue(), language, access);
    dm::ParameterTableState state;
    dm::UpdateTableState(set, rows, language, state);
    if (!set.replied() && !rows.empty())
        std::abort(); // without a reply there are no rows
    for (const dm::ParameterRow& row : rows) {
        const dm::RowPresentation shown = dm::PresentRow(set, row, language);
        if (shown.value.list && !shown.value.text.empty() &&
            std::find(shown.value.options.begin(), shown.value.options.end(), shown.value.text) ==
                shown.value.options.end())
            std::abort(); // a list cell shows one of its options or nothing
    }

    (void)dm::ParameterTableFileBytes(set, rows, language);
    for (const dm::ParameterRow& row : rows)
        set.setModified(row.key, true);
    const dm::ExchangeStart start = dm::ComposeSendChanges(set, rows, set.model(), language);
    for (const std::string& file : start.files)
        if (file.size() < 2 || file.compare(file.size() - 2, 2, "\r\n") != 0)
            std::abort(); // every command line ends in CR LF
    return 0;
}
