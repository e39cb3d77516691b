#pragma once
// What happens when the user edits a cell of the parameter table. Nothing is sent while
// editing: the table only remembers the touched cells through their modified flags.
#include "core/message_sink.h"
#include "grid/grid_model.h"

#include <string>

namespace dm {

// The start of an edit of cell (row, col), before its editor opens: the cell counts as
// touched. For the "history_time" row the user is first warned that the dosimeter will
// erase its dose history; on No the old text and flag are put back and the result is
// false: the editor must close again (or not open) with the old text.
bool BeginEdit(GridModel& grid, int row, int col, int langBase, UserDialogs& dialogs);

// The end of an edit with the editor's text: written (and so marked modified) only when
// it differs from the cell's text. A list cell takes only one of its options.
void EndEdit(GridModel& grid, int row, int col, const std::string& editorText);

} // namespace dm
