#pragma once
// The parameter table as cells of a GridModel (three columns: displayed name, hidden key,
// value; one fixed heading row), filled from the row presentation, and the grid's edits
// carried back into the set. The window and the CLI read the presentation directly; this
// cell form remains for the code that still works on grid cells.
#include "core/colour.h"
#include "core/language.h"
#include "core/message_sink.h"
#include "grid/grid_model.h"
#include "params/parameter_set.h"
#include "params/row_presentation.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

constexpr int kNameColumn = 0;
constexpr int kKeyColumn = 1;
constexpr int kValueColumn = 2;

// Empties the grid and gives it its columns, colours and modes; the columns are then
// spread over clientWidth pixels (the hidden key column stays hidden).
void SetUpParameterTable(GridModel& grid, Language language, int clientWidth);

// Fills the table from the set, with the catalogue (UTF-8) of the model and language, and
// leaves out the protected rows whose group is locked in access. Measured doses and times
// are shown formatted, the rest as the dosimeter wrote it (or as the user edited it). An
// set without a reply leaves only the heading row and the state untouched. A language switch calls
// this again with the same set: the texts change, the values and edits stay.
void FillParameterGrid(const ParameterSet& set, std::string_view catalogue, Language language,
                       int access, int clientWidth, GridModel& grid, ParameterTableState& state);

// The bytes "Save current table as..." writes for the parameter tab: for each row below
// the heading, name, " = ", value, CR LF, in Windows-1251.
std::string ParameterTableFileBytes(const GridModel& grid);

// The grid's edit notifications, applied to the set and the grid. Begin: the cell counts
// as touched; false refuses the edit (the history interval question answered No), and the
// editor must not stay open. End: the editor's text, written only when it changed and, for
// a list cell, only when it is one of the options.
bool BeginParameterEdit(GridModel& grid, ParameterSet& set, int row, int col, Language language,
                        UserDialogs& dialogs);
void EndParameterEdit(GridModel& grid, ParameterSet& set, int row, int col,
                      const std::string& text, Language language);

} // namespace dm
