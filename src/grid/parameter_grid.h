#pragma once
// The parameter table on the grid: fills a GridModel from a parameter set (the catalogue
// picks the rows and their names), in the current language, and carries the user's edits
// of the grid back into the set. Layout (three columns: displayed name, hidden key, value;
// one fixed heading row), colours and list cells live here, never in the set.
#include "core/colour.h"
#include "core/message_sink.h"
#include "grid/grid_model.h"
#include "params/parameter_set.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

// What the window keeps from the last fill.
struct ParameterTableState {
    bool neutron = false;         // the reply came from a KRT-17A
    std::string caption;          // the window caption
    double historyInterval = 1.0; // "history_time": seconds between two dose records
    double historyDepth = 0.0;    // "history_depth_gma"
};

constexpr Rgb kNameBackground{204, 204, 204};     // fixed cells and name cells
constexpr Rgb kValueBackground{255, 255, 243};    // value cells by default
constexpr Rgb kReadOnlyBackground{236, 233, 216}; // read-only values of catalogue rows

constexpr int kNameColumn = 0;
constexpr int kKeyColumn = 1;
constexpr int kValueColumn = 2;

// Empties the grid and gives it its columns, colours and modes; the columns are then
// spread over clientWidth pixels (the hidden key column stays hidden).
void SetUpParameterTable(GridModel& grid, int langBase, int clientWidth);

// Fills the table from the set, with the catalogue (UTF-8) of the model and language, and
// leaves out the protected rows whose group is locked in access. Measured doses and times
// are shown formatted, the rest as the dosimeter wrote it (or as the user edited it). An
// set without a reply leaves only the heading row and the state untouched. A language switch calls
// this again with the same set: the texts change, the values and edits stay.
void FillParameterGrid(const ParameterSet& set, std::string_view catalogue, int langBase,
                       int access, int clientWidth, GridModel& grid, ParameterTableState& state);

// The bytes "Save current table as..." writes for the parameter tab: for each row below
// the heading, name, " = ", value, CR LF, in Windows-1251.
std::string ParameterTableFileBytes(const GridModel& grid);

// The options a list cell offers for a choice parameter (a switch, the signal type), in
// the current language; empty for other keys.
std::vector<std::string> ShownChoices(std::string_view key, int langBase);
// The dosimeter's word for one of those options; nothing for any other text.
std::optional<std::string> ChoiceWord(std::string_view key, const std::string& shown, int langBase);

// The grid's edit notifications, applied to the set and the grid. Begin: the cell counts
// as touched; false refuses the edit (the history interval question answered No), and the
// editor must not stay open. End: the editor's text, written only when it changed and, for
// a list cell, only when it is one of the options.
bool BeginParameterEdit(GridModel& grid, ParameterSet& set, int row, int col, int langBase,
                        UserDialogs& dialogs);
void EndParameterEdit(GridModel& grid, ParameterSet& set, int row, int col,
                      const std::string& text, int langBase);

} // namespace dm
