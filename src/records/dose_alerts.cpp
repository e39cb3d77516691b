#include "records/dose_alerts.h"

#include "core/format.h"
#include "core/numbers.h"
#include "core/string_table.h"

#include <cstdio>
#include <cstdlib>

namespace dm::records {
namespace {

std::string NameOf(const DoseOfRecord& records, const std::string& id) {
    for (const Wearer& w : records.wearers())
        if (w.id == id)
            return w.name;
    return id;
}

// A dose of an alert: under the smallest step the tables show (0.01 mkSv) with two
// significant digits, so a tiny limit and the dose that reached it read as numbers.
std::string AlertDose(double sv, Language language) {
    return sv > 0.0 && sv < 1e-8 ? FormatDoseReadout(sv, language) : FormatDose(sv, language);
}

} // namespace

std::vector<DoseAlert> AlertsForReadout(const DoseOfRecord& records, RecordsRepository& repo,
                                        const std::string& serial, UtcSeconds at, Language language) {
    std::optional<std::string> wearer;
    double increment = 0.0;
    for (const ReadoutView& r : repo.readouts(serial))
        if (r.at == at) {
            wearer = r.wearer;
            increment = r.accounted.increment.value_or(0.0);
        }
    if (!wearer || !(increment > 0))
        return {};
    const int year = YearOf(at);
    // Everything up to and including this readout; the dose before it is that less its increment.
    const double yearDose = records.dose(*wearer, YearStart(year), at + 1).dose;
    const double fiveYearDose = records.dose(*wearer, YearStart(year - 4), at + 1).dose;
    const DoseLimits limits = records.limits();
    struct Level {
        const char* name;
        int words;
        double sv;
        double dose;
        int period;
    };
    const Level levels[] = {
        {"annual", IDS_ALERT_ANNUAL, limits.annual, yearDose, IDS_ALERT_YEAR},
        {"single_year", IDS_ALERT_SINGLE_YEAR, limits.singleYear, yearDose, IDS_ALERT_YEAR},
        {"five_year", IDS_ALERT_FIVE_YEAR, limits.fiveYear, fiveYearDose, IDS_ALERT_FIVE_YEARS},
        {"investigation", IDS_ALERT_INVESTIGATION, limits.investigation, yearDose, IDS_ALERT_YEAR},
    };
    std::vector<DoseAlert> out;
    const std::string name = NameOf(records, *wearer);
    for (const Level& l : levels) {
        // Kept to the sums' twelve digits, so a level reached exactly before is not told again.
        if (!(l.dose >= l.sv) || RoundToSignificantDigits(l.dose - increment, 12) >= l.sv)
            continue;
        DoseAlert a{*wearer, name, l.name, l.dose, l.sv, {}};
        a.text = FillIn(Tr(IDS_ALERT, language),
                        {name, *wearer, Tr(l.period, language), AlertDose(l.dose, language),
                         Tr(l.words, language), AlertDose(l.sv, language), serial});
        out.push_back(std::move(a));
    }
    return out;
}

ReadoutTold TellStoredReadout(RecordsRepository& repo, const ReadoutInput& readout, Language language) {
    ReadoutTold told;
    try {
        const DoseOfRecord records(repo);
        if (records.currentWearer(readout.serial))
            told.notes.push_back(WornByText(records, readout.model, readout.serial, language));
        for (const DoseAlert& alert : AlertsForReadout(records, repo, readout.serial, readout.at, language))
            told.alerts.push_back(alert.text);
    } catch (const RecordsError&) {
    }
    return told;
}

std::string WornByText(const DoseOfRecord& records, const std::string& model, const std::string& serial,
                       Language language) {
    const std::string dosimeter = (model.empty() ? "" : ShownModelName(model, language) + " ") + serial;
    if (const auto wearer = records.currentWearer(serial))
        return FillIn(Tr(IDS_WORN_BY, language), {dosimeter, NameOf(records, *wearer), *wearer});
    return dosimeter;
}

} // namespace dm::records
