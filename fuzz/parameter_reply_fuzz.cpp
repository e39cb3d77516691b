#include "core/reply_text.h"
#include "core/text_file.h"
#include "grid/grid_model.h"
#include "grid/parameter_grid.h"
#include "params/catalogue.h"
#include "params/command_files.h"
#include "params/parameter_set.h"
#include "params/parameter_table.h"

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
    dm::GridModel grid;
    dm::ParameterTableState state;
    dm::FillParameterGrid(set, ShippedCatalogue(), language, access, 600, grid, state);
    if (grid.colCount() != 3 || grid.rowCount() < 1 || grid.columnWidth(dm::kKeyColumn) != 0)
        std::abort();

    (void)dm::ParameterTableFileBytes(grid);
    const auto rows = dm::ParameterRows(set, ShippedCatalogue(), language, access);
    for (const dm::ParameterRow& row : rows)
        set.setModified(row.key, true);
    const dm::ExchangeStart start = dm::ComposeSendChanges(set, rows, set.model(), language);
    for (const std::string& file : start.files)
        if (file.size() < 2 || file.compare(file.size() - 2, 2, "\r\n") != 0)
            std::abort(); // every command line ends in CR LF
    return 0;
}
