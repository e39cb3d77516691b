#include "params/edit_rules.h"

#include "core/string_table.h"
#include "params/parameter_table.h"

#include <algorithm>

namespace dm {

bool BeginEdit(GridModel& grid, int row, int col, int langBase, UserDialogs& dialogs) {
    if (!grid.isValid(row, col))
        return true;
    // A change made earlier in this table must survive a later edit that is refused or
    // left unchanged, so the value's flag from before this edit is what goes back.
    const bool valueWasModified = grid.isModified(row, kValueColumn);
    grid.setModified(true, row, col);
    const std::string oldText = grid.text(row, col);
    if (grid.text(row, kKeyColumn) != "history_time")
        return true;

    grid.setModified(valueWasModified, row, kValueColumn);
    if (dialogs.askYesNo(Tr(IDS_WARN_HISTORY_TIME, langBase)))
        return true;

    grid.setText(row, col, oldText);
    grid.setModified(col == kValueColumn ? valueWasModified : false, row, col);
    return false;
}

void EndEdit(GridModel& grid, int row, int col, const std::string& editorText) {
    if (!grid.isValid(row, col) || grid.text(row, col) == editorText)
        return;
    if (grid.kind(row, col) == CellKind::List) {
        const auto& options = grid.options(row, col);
        if (std::find(options.begin(), options.end(), editorText) == options.end())
            return;
    }
    grid.setText(row, col, editorText);
}

} // namespace dm
