#pragma once
// The yearly dose record of one wearer, the one an officer signs: the site, the wearer,
// the period, every readout attributed to them that year in time order among the
// hand-outs, hand-backs and erases of their dosimeters, each correction on the row it
// corrects (who, when, why), the year's and the five years' doses against the limits.
// Gathered and worded here (English or Russian) without Qt Gui; dose_report_pdf.h lays
// the words out on pages.
#include "core/language.h"
#include "records/dose_of_record.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace dm::records {

// A correction of a listed readout's total dose.
struct ReportCorrection {
    std::int64_t readout = 0;
    std::optional<double> before; // Sv, the value it replaced; nothing when none was read
    std::optional<double> after;  // Sv
    std::string by;
    UtcSeconds at = 0;
    std::string reason;
};

// What happened to one of the wearer's dosimeters besides its readouts.
struct ReportEvent {
    enum class Kind { HandOut, Erase, HandBack }; // at one time, in this order
    Kind kind = Kind::HandOut;
    UtcSeconds at = 0;
    std::string serial;
    std::optional<double> totalDoseBefore; // Erase: the total it destroyed, when known
};

struct DoseRecordReport {
    Wearer wearer;
    AnnualDose annual;
    std::optional<std::string> site;
    std::vector<AttributedReadout> readouts; // attributed to the wearer in the year
    // The hand-outs and hand-backs of the wearer's periods that reach into the year (a
    // hand-out before it included), and the erases of their dosimeters within them.
    std::vector<ReportEvent> events;
    std::vector<ReportCorrection> corrections; // of the listed readouts, oldest first
    UtcSeconds printedAt = 0; // when it was gathered
    Origin printedBy;         // this station and its user
};

// RecordsError(Refused) for an unknown wearer.
DoseRecordReport BuildDoseRecordReport(const DoseOfRecord& records, const std::string& wearer, int year);

// A dose as the record's columns show it: in mSv, three decimals; a dose too small for
// them shows its first two significant digits ("0.0000050"), so no dose reads as zero.
std::string MilliSievertText(double sv);

// One row of the record's table, worded.
struct ReportRow {
    // Time (UTC), dosimeter, total dose and increment (numbers in mSv), notes.
    std::array<std::string, 5> cells;
    bool event = false;                   // a hand-out, hand-back or erase: set apart
    std::vector<std::string> corrections; // under the row: one each, who, when, what, why
};

// The record worded in one language: every text the pages show; the layout is the
// printer's. Rows are worded on demand, so 200,000 of them are never all held as text.
class DoseRecordSheet {
public:
    static constexpr std::size_t kColumns = 5;
    static constexpr std::size_t kTotalColumn = 2, kIncrementColumn = 3; // numbers, right-aligned

    DoseRecordSheet(const DoseRecordReport& report, Language language);

    std::string title() const;      // "Dose record 2026"
    std::string site() const;       // the site's name, or that none is set
    std::string wearerLine() const; // "Petrova, Olga (ID W-01)"
    std::string period() const;     // "2026-01-01 – 2026-12-31 (UTC)"
    // The first page's heading: label and text.
    std::vector<std::pair<std::string, std::string>> particulars() const;
    std::string printed() const;                       // when, by whom, where
    std::string footer() const;                        // "Printed: " and the same
    std::string pageNumber(int page, int pages) const; // "Page 2 of 7"

    const std::array<std::string, kColumns>& columns() const { return columns_; }
    std::size_t rowCount() const { return order_.size(); }
    ReportRow row(std::size_t i) const;
    std::string noReadouts() const; // said when no readout is attributed

    bool hasReadouts() const { return !report_.readouts.empty(); }

    // The doses against the limits: what, dose (mSv), limit or level, its value (mSv),
    // reached or not; the column titles first.
    struct SummaryRow {
        std::array<std::string, 5> cells;
        bool reached = false;
    };
    std::vector<SummaryRow> summary() const;
    std::vector<std::string> conclusions() const; // the limits reached, in words
    std::vector<std::string> signatures() const;  // "Wearer: Petrova, Olga", the officer
    std::string signatureWord() const;            // "Signature"
    std::string dateWord() const;                 // "Date"

private:
    struct Entry {
        UtcSeconds at;
        int rank; // events and readouts of one time: hand-out, erase, readout, hand-back
        bool event;
        std::size_t index;
    };

    std::string flagText(const std::string& flag) const;

    const DoseRecordReport& report_;
    Language language_;
    std::array<std::string, kColumns> columns_;
    std::vector<Entry> order_;
    std::unordered_map<std::int64_t, std::vector<std::size_t>> correctionsOf_;
};

} // namespace dm::records
