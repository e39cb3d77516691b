#pragma once
// What each row of the parameter table shows: its name, value text, drop-down options,
// whether its cells may be edited, their colours and modified marks, in the interface
// language. This is the one place that turns parameter rows into texts and edited texts
// back into values; the window's item model, saved tables and the CLI all read it.
#include "core/colour.h"
#include "core/language.h"
#include "core/message_sink.h"
#include "params/edit_rules.h"
#include "params/parameter_set.h"
#include "params/parameter_table.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

constexpr Rgb kNameBackground{204, 204, 204};     // the heading and name cells
constexpr Rgb kValueBackground{255, 255, 243};    // value cells by default
constexpr Rgb kReadOnlyBackground{236, 233, 216}; // read-only values of catalogue rows
constexpr Rgb kEditedBackground{228, 214, 255};   // an unsent edit (a colour no catalogue row uses)
constexpr Rgb kRefusedBackground{255, 200, 200};  // refused, or not taken by the dosimeter

// The widths the name and value columns start from before they share the table's width.
constexpr int kNameColumnWidth = 230;
constexpr int kValueColumnWidth = 50;

struct CellPresentation {
    std::string text;
    bool list = false;                // chosen from options, never typed
    std::vector<std::string> options; // a list cell's choices
    bool readOnly = false;
    bool modified = false;
    Rgb background = kValueBackground;
};

struct RowPresentation {
    CellPresentation name;
    std::string key; // the key the row is known by (empty for the signal and limit rows)
    bool keyReadOnly = false;
    CellPresentation value;
};

struct TableHeadings {
    std::string name, key, value;
};

// What the window keeps from the last fill.
struct ParameterTableState {
    Model model = Model::Mlv52b;  // the model the reply came from
    std::string caption;          // the window caption
    double historyInterval = 1.0; // "history_time": seconds between two dose records
    double historyDepth = 0.0;    // "history_depth_gma"
};

TableHeadings ParameterTableHeadings(Language language);

// The row as shown. refused: the value was refused or not taken (painted so); a value the
// user changed and has not sent is painted as edited.
RowPresentation PresentRow(const ParameterSet& set, const ParameterRow& row, Language language,
                           bool refused = false);

// The state a fill of these rows leaves: model and caption, and the history interval and
// depth when the table shows them. A set without a reply leaves the state as it is.
void UpdateTableState(const ParameterSet& set, const std::vector<ParameterRow>& rows, Language language,
                      ParameterTableState& state);

// The bytes "Save current table as..." writes for the parameter tab: for each row, name,
// " = ", value, CR LF, in Windows-1251.
std::string ParameterTableFileBytes(const ParameterSet& set, const std::vector<ParameterRow>& rows,
                                    Language language);

// The options a list cell offers for a choice parameter (a switch, the signal type), in
// the current language; empty for other keys.
std::vector<std::string> ShownChoices(std::string_view key, Language language);
// The dosimeter's word for one of those options; nothing for any other text.
std::optional<std::string> ChoiceWord(std::string_view key, const std::string& shown, Language language);

enum class RowCell { Name, Value };

// The start of an edit of a row's cell, before its editor opens: false when the user
// answers No to the history-interval question (asked with No as the default), and then
// no editor may open.
bool BeginRowEdit(ParameterSet& set, const ParameterRow& row, RowCell cell, Language language,
                  UserDialogs& dialogs);
// The editor's text for a row's cell, applied to the set: only when it differs from what
// the cell shows, and for a list cell only when it is one of the options. The signal row's
// name cell chooses the signal type (keeping the limit shown), its value cell the limit.
// True when the set took it.
bool EndRowEdit(ParameterSet& set, const ParameterRow& row, RowCell cell, const std::string& text,
                Language language);

} // namespace dm
