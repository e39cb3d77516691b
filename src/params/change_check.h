#pragma once
// What is checked around "Send changes": before the push, that each changed value is one
// the dosimeter takes (so nothing it would drop silently is sent); after the renewed
// parameters arrive, which of the values sent the dosimeter did not keep.
#include "core/string_table.h"
#include "params/parameter_set.h"
#include "params/parameter_table.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

struct CheckedValue {
    std::string sent;   // the value as it goes out (a decimal comma made a point)
    std::string reason; // empty when the dosimeter takes it; else why not, in the language asked
    bool ok() const { return reason.empty(); }
};

// A value for a parameter of this description, checked by its kind and range.
// language: the language of the reason.
CheckedValue CheckValue(const ParameterDescription& d, std::string_view value, Language language = Language::English);

struct ValueProblem {
    std::string key;
    std::string value;  // as the user typed it, or as it was sent
    std::string detail; // why it is refused, or what came back
};

// Checks every value "Send changes" would send for these rows (the touched editable rows
// and the limit of the last row) and returns the refused ones in table order. When none is
// refused, the values are stored in the set in the form they are sent.
std::vector<ValueProblem> CheckChanges(ParameterSet& set, const std::vector<ParameterRow>& rows,
                                       Language language = Language::English);

// The changed values "Send changes" sends for these rows, as key and value (ValueToSend
// in the interface language).
std::vector<std::pair<std::string, std::string>> ChangedValues(const ParameterSet& set,
                                                               const std::vector<ParameterRow>& rows,
                                                               Language language = Language::English);

// Compares the values sent with the renewed parameters: those the reply carries are taken
// off `sent`, and those whose value differs are returned (detail: the value returned).
// Values are compared as numbers where both read as numbers ("2.5E-03" is "2.500E-03").
// A number the dosimeter stored rounded to the digits it writes back (1.23456E-05 as
// 1.235E-05) is taken; it goes to `rounded` when given (detail: the value stored).
std::vector<ValueProblem> NotTaken(std::vector<std::pair<std::string, std::string>>& sent,
                                   const ParameterSet& renewed,
                                   std::vector<ValueProblem>* rounded = nullptr);

// The one rule for "did the dosimeter take it": the renewed parameters carry `key` with
// the value sent (or stored rounded), compared as NotTaken compares. A key the reply does not carry was not
// taken (the caller waits for the reply that would carry it, as NotTaken does).
bool ValueTaken(const ParameterSet& renewed, std::string_view key, std::string_view sent);

// What the parameters that come back after "Send changes" or an erase are awaited for:
// the values sent are compared with them, and while a protected group is unlocked the
// renewed reply (which carries no protected rows) is followed by a read with the password,
// whose reply completes the comparison.
class RenewedParametersCheck {
public:
    // "Send changes" pushed these values (none for an erase).
    void commandSent(std::vector<std::pair<std::string, std::string>> sent, bool protectedUnlocked);
    // Nothing is awaited any more: the dosimeter left.
    void clear() { *this = {}; }

    struct Outcome {
        std::vector<ValueProblem> notTaken; // found in this reply
        std::vector<ValueProblem> storedRounded; // taken, rounded to the dosimeter's precision
        bool readProtectedNext = false;     // ask again, with the password, for the protected rows
        std::vector<ValueProblem> summary;  // the comparison is over: every value not taken
    };
    // A parameter reply has arrived; nothing to do when none is awaited.
    Outcome parametersReceived(const ParameterSet& renewed);

private:
    std::vector<std::pair<std::string, std::string>> sent_;
    std::vector<ValueProblem> notTaken_;
    bool awaitingRenewed_ = false;
    bool awaitingProtected_ = false;
    bool protectedUnlocked_ = false;
};

// After an erase of the total dose: whether the renewed parameters show it erased, that is
// zero or below the total before (a dosimeter counts on while it answers). A total of zero
// before counts as erased. Nothing when the reply carries no total that reads as a number.
std::optional<bool> TotalDoseErased(std::optional<double> totalBefore, const ParameterSet& renewed);

// Whether any value differs from what the dosimeter last sent.
bool HasUnsentEdits(const ParameterSet& set);

} // namespace dm
