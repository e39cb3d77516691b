#pragma once
// The parameter table: its layout, and the parse of a parameter reply into it.
// The table lives in a GridModel with three columns (displayed name, hidden key, value)
// and one fixed heading row.
#include "core/colour.h"
#include "grid/grid_model.h"

#include <optional>
#include <string>
#include <string_view>

namespace dm {

// What the window keeps from the last parse.
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

// Removes every LF, CR and double quote, then the leading blanks (trailing ones stay).
std::string CleanValue(std::string_view text);

// The value of a key as the table finds it: after the first "=" behind the key's first
// occurrence, up to and including the next LF, cleaned. Nothing when the key, the "=" or
// the LF is missing (so the last line of a reply without a line end gives nothing).
std::optional<std::string> FindReplyValue(std::string_view reply, std::string_view key);
inline std::string ReplyValue(std::string_view reply, std::string_view key) {
    return FindReplyValue(reply, key).value_or(std::string());
}

// Fills the table from the reply text (UTF-8), with the catalogue (UTF-8) of the model
// and language, and hides the protected rows whose group is locked in access. An empty
// reply leaves only the heading row and the state untouched.
void ParseParameterReply(std::string_view reply, std::string_view catalogue, int langBase,
                         int access, int clientWidth, GridModel& grid, ParameterTableState& state);

// The bytes "Save current table as..." writes for the parameter tab: for each row below
// the heading, name, " = ", value, CR LF, in Windows-1251.
std::string ParameterTableFileBytes(const GridModel& grid);

} // namespace dm
