#pragma once
// Which parameters the parameter table shows, in which order and under which names: the
// catalogue decides the rows, the parameter set their values, the protection mask hides the
// locked groups. No toolkit and no translation here: the view adapter turns the rows into
// cells and texts of the current language.
#include "core/colour.h"
#include "core/language.h"
#include "params/parameter_set.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

enum class ParameterRowType {
    Catalogue, // a catalogue line whose key the reply carries
    Switch,    // an on/off switch of a KRT-17A
    Signal,    // the last row of a KRT-17A: signal type and its limit
    Limit,     // the last row of a MLV-52B: the fixed dose limit
};

struct ParameterRow {
    ParameterRowType type = ParameterRowType::Catalogue;
    std::string key;             // empty for the signal and limit rows
    // The parameter whose value the row shows and edits: the key itself, or for a catalogue
    // key the reply carries only inside a longer key, that longer key. The command file
    // still names the row's own key.
    std::string valueKey;
    std::string name;            // the catalogue's name; empty for the other rows
    bool editable = false;       // the value may be edited
    std::optional<Rgb> colour;   // the catalogue's value colour
};

// The rows below the heading, in table order: the catalogue rows whose key the set carries
// with a value to show (a measured dose or time is always shown, other values only when not
// blank), then for a KRT-17A its switch rows and the signal row, for a MLV-52B the limit
// row. Rows of a protected group whose bit is clear in access are left out. Without a
// reply there are no rows.
std::vector<ParameterRow> ParameterRows(const ParameterSet& set, std::string_view catalogue,
                                        Language language, int access);

// Whether a parameter row's value counts as changed by the user: a catalogue row when its
// parameter was touched, a switch row also when the reply set it (the dosimeter expects its
// switches with every change list).
bool RowIsModified(const ParameterSet& set, const ParameterRow& row);

// The limit parameter the last row shows: limit_fixed for a MLV-52B and for the fixed
// signal type, limit_percent for the percent type; empty while the type is unknown.
std::string_view SignalLimitKey(const ParameterSet& set);

// The last row's edits. Choosing a signal type keeps the limit the row shows, so what the
// user sees is what is sent; typing a limit stores it under SignalLimitKey (nothing while
// the type is unknown). Both return false when the set has no such row.
bool ChooseSignalType(ParameterSet& set, std::string_view word, const std::string& shownLimit);
bool SetSignalLimit(ParameterSet& set, const std::string& text);

// The history settings the dose history needs, read from the rows the table shows: the
// integer value of "history_time" and of "history_depth_gma"; nothing when not shown.
std::optional<double> ShownHistoryInterval(const ParameterSet& set,
                                           const std::vector<ParameterRow>& rows);
std::optional<double> ShownHistoryDepth(const ParameterSet& set,
                                        const std::vector<ParameterRow>& rows);

} // namespace dm
