#pragma once
// Wearers, the assignment of dosimeters to them, the dose limits, and the dose of record:
// the increments of the dose accounting summed per wearer over a period. One
// implementation for the CLI, the window and the reports.
#include "records/records_repository.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace dm::records {

struct Wearer {
    std::string id;
    std::string name;
    std::optional<std::string> born;     // YYYY-MM-DD
    std::vector<std::string> dosimeters; // serials it wears now, by serial
};

// Sv. A limit is reached when the dose is at or above it.
struct DoseLimits {
    double annual = 0.020;
    double singleYear = 0.050;
    double fiveYear = 0.100;
    double investigation = 0.006;
};

struct LimitChanges {
    std::optional<double> annual, singleYear, fiveYear, investigation;
};

// A readout with its accounted increment and the wearer it is attributed to.
struct AttributedReadout {
    std::int64_t readout = 0;
    std::string serial;
    UtcSeconds at = 0;
    std::optional<double> totalDose;
    Accounted accounted;
    std::optional<std::string> wearer;
};

struct WearerDose {
    std::string wearer;
    UtcSeconds from = 0, to = 0;
    double dose = 0.0;
    std::int64_t readouts = 0;
};

struct AnnualDose {
    std::string wearer;
    int year = 0;
    double dose = 0.0;
    double fiveYearDose = 0.0; // years year-4 to year
    DoseLimits limits;
    std::vector<std::string> exceeded; // "annual", "single_year", "five_year", "investigation"
};

struct YearDose {
    std::string wearer;
    int year = 0;
    double dose = 0.0;
};

// The names of the limits the doses reach or pass, in the order annual, single_year,
// five_year, investigation.
std::vector<std::string> ExceededLimits(double yearDose, double fiveYearDose, const DoseLimits& limits);

// 00:00:00 UTC on 1 January of year (0..9999; 10000 and later: the end of year 9999).
UtcSeconds YearStart(int year);
int YearOf(UtcSeconds t);

// Every method is one transaction or one read; RecordsError(Refused) for a request the
// records contradict (unknown wearer, ID taken, no wearer to end), nothing changed.
class DoseOfRecord {
public:
    explicit DoseOfRecord(RecordsRepository& repo) : repo_(repo) {}
    RecordsRepository& repository() const { return repo_; }

    void addWearer(const std::string& id, const std::string& name, const std::optional<std::string>& born);
    std::vector<Wearer> wearers() const; // by ID as text
    bool knowsWearer(const std::string& id) const;
    std::optional<std::string> currentWearer(const std::string& serial) const;

    // Gives the dosimeter to the wearer from `from`, ending the assignment that holds it
    // then. Refused for an unknown wearer or a time before the dosimeter's last hand-out
    // or hand-back (the history of who wore it is never rewritten).
    void assign(const std::string& serial, const std::string& wearer, UtcSeconds from);
    // Ends the dosimeter's assignment at `at`. Refused when it has no wearer.
    void unassign(const std::string& serial, UtcSeconds at);

    DoseLimits limits() const;
    // Those in force at the time (the database's clock dates each change); the current
    // ones without a time.
    DoseLimits limitsAt(std::optional<UtcSeconds> at) const;
    // Each limit given is a new row, in force from now; the earlier ones stay on record.
    DoseLimits setLimits(const LimitChanges& changes); // values must be finite and > 0

    // Readouts taken in [from, to), oldest first per dosimeter, dosimeters by serial;
    // only those attributed to `wearer` when given.
    std::vector<AttributedReadout> attributedReadouts(UtcSeconds from, UtcSeconds to,
                                                      const std::optional<std::string>& wearer) const;
    WearerDose dose(const std::string& wearer, UtcSeconds from, UtcSeconds to) const;
    AnnualDose annual(const std::string& wearer, int year) const;
    // The dose of every wearer who has a readout attributed to them in [from, to).
    std::map<std::string, double> dosesByWearer(UtcSeconds from, UtcSeconds to) const;
    // One row per wearer (by ID) and year with an attributed readout; only `year` when given.
    std::vector<YearDose> doseTable(std::optional<int> year) const;

private:
    void requireWearer(const std::string& id) const;

    RecordsRepository& repo_;
};

} // namespace dm::records
