#include "records/dose_report.h"

#include "core/format.h"
#include "core/numbers.h"
#include "core/string_table.h"
#include "records/capture.h"
#include "records/corrections.h"
#include "records/site_settings.h"
#include "qt/qt_text.h"
#include "records/sql_connection.h"
#include "records/utc_time.h"

#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <set>
#include <unordered_set>

namespace dm::records {
namespace {

using dm::Q;
using sql::S;

QVariant I(std::int64_t v) { return QVariant(static_cast<qlonglong>(v)); }

// "2026-03-02 08:00:00": the column says UTC.
std::string TimeText(UtcSeconds t) {
    std::string text = FormatUtcTime(t);
    if (text.size() == 20 && text[10] == 'T' && text[19] == 'Z') {
        text[10] = ' ';
        text.pop_back();
    }
    return text;
}

std::string DateText(UtcSeconds t) { return FormatUtcTime(t).substr(0, 10); }

std::string OptionalDose(const std::optional<double>& sv) { return sv ? MilliSievertText(*sv) : "\xE2\x80\x94"; }

// The hand-outs and hand-backs of the wearer's periods that reach into [from, to), and
// the erases of their dosimeters within those periods.
std::vector<ReportEvent> HandOutsAndErases(RecordsRepository& repo, const std::string& wearer, UtcSeconds from,
                                           UtcSeconds to) {
    std::vector<ReportEvent> events;
    repo.reading("read the hand-outs of " + wearer, [&](SqlConnection& sql) {
        QSqlQuery& a = sql.run(
                           "SELECT d.serial, a.from_at, a.until_at FROM assignments a"
                                          " JOIN dosimeters d ON d.id = a.dosimeter_id"
                                          " WHERE a.wearer_id = ? AND a.from_at < ? AND (a.until_at IS NULL OR a.until_at >= ?)",
                           {Q(wearer), I(to), I(from)});
        while (a.next()) {
            const std::string serial = S(a.value(0));
            events.push_back({ReportEvent::Kind::HandOut, a.value(1).toLongLong(), serial, std::nullopt});
            if (!a.value(2).isNull() && a.value(2).toLongLong() < to)
                events.push_back({ReportEvent::Kind::HandBack, a.value(2).toLongLong(), serial, std::nullopt});
        }
        QSqlQuery& e = sql.run(
                           "SELECT DISTINCT d.serial, e.taken_at, e.total_dose_before FROM erase_events e"
                                          " JOIN dosimeters d ON d.id = e.dosimeter_id"
                                          " JOIN assignments a ON a.dosimeter_id = e.dosimeter_id AND a.wearer_id = ?"
                                          "  AND e.taken_at >= a.from_at AND (a.until_at IS NULL OR e.taken_at <= a.until_at)"
                                          " WHERE e.taken_at >= ? AND e.taken_at < ?",
                           {Q(wearer), I(from), I(to)});
        while (e.next()) {
            ReportEvent erase{ReportEvent::Kind::Erase, e.value(1).toLongLong(), S(e.value(0)), std::nullopt};
            if (!e.value(2).isNull())
                erase.totalDoseBefore = e.value(2).toDouble();
            events.push_back(std::move(erase));
        }
    });
    std::sort(events.begin(), events.end(), [](const ReportEvent& x, const ReportEvent& y) {
        if (x.serial != y.serial)
            return x.serial < y.serial;
        return x.at != y.at ? x.at < y.at : x.kind < y.kind;
    });
    return events;
}

} // namespace

DoseRecordReport BuildDoseRecordReport(const DoseOfRecord& records, const std::string& wearer, int year) {
    DoseRecordReport report;
    report.printedAt = UtcNow();
    report.printedBy = LocalOrigin();
    report.annual = records.annual(wearer, year); // refuses an unknown wearer
    for (Wearer& w : records.wearers())
        if (w.id == wearer)
            report.wearer = std::move(w);
    RecordsRepository& repo = records.repository();
    report.site = SiteName(repo);
    const UtcSeconds from = YearStart(year), to = YearStart(year + 1);
    report.readouts = records.attributedReadouts(from, to, wearer);
    report.events = HandOutsAndErases(repo, wearer, from, to);
    std::unordered_set<std::int64_t> listed;
    std::set<std::string> serials;
    listed.reserve(report.readouts.size());
    for (const AttributedReadout& o : report.readouts) {
        listed.insert(o.readout);
        serials.insert(o.serial);
    }
    // The audit trail words a correction's values as text: read back locale-free.
    for (const std::string& serial : serials)
        for (HistoryEntry& e : HistoryWithCorrections(repo, serial)) {
            if (e.action != "correct" || !e.readout || !listed.count(*e.readout) || e.changes.empty())
                continue;
            report.corrections.push_back({*e.readout, ParseNumberText(e.changes.front().before),
                                          ParseNumberText(e.changes.front().after), e.origin.operatorName, e.at,
                                          e.reason});
        }
    std::stable_sort(report.corrections.begin(), report.corrections.end(),
                     [](const ReportCorrection& a, const ReportCorrection& b) { return a.at < b.at; });
    return report;
}

std::string MilliSievertText(double sv) {
    if (std::isnan(sv))
        return kNotANumberText;
    if (std::isinf(sv))
        return sv > 0 ? "INF" : "-INF";
    const double msv = sv * 1000.0;
    const double magnitude = std::fabs(msv);
    if (magnitude == 0.0)
        return "0.000";
    if (magnitude >= 1e9)
        return CNumberText(msv, 'E', 3);
    if (magnitude >= 0.0005)
        return CNumberText(msv, 'f', 3);
    // Under the last decimal: two significant digits, never a zero.
    const int decimals = std::min(1 - static_cast<int>(std::floor(std::log10(magnitude))), 40);
    std::string text = CNumberText(msv, 'f', decimals);
    while (text.back() == '0' && text.size() - text.find('.') > 4)
        text.pop_back();
    return text;
}

DoseRecordSheet::DoseRecordSheet(const DoseRecordReport& report, Language language)
    : report_(report), language_(language) {
    columns_ = {Tr(IDS_REPORT_COL_TIME, language), Tr(IDS_REPORT_COL_DOSIMETER, language),
                Tr(IDS_REPORT_COL_TOTAL, language), Tr(IDS_REPORT_COL_INCREMENT, language),
                Tr(IDS_REPORT_COL_NOTES, language)};
    static constexpr int kRank[] = {0, 1, 3}; // hand-out, erase, hand-back; a readout is 2
    order_.reserve(report.readouts.size() + report.events.size());
    for (std::size_t i = 0; i < report.events.size(); ++i)
        order_.push_back({report.events[i].at, kRank[static_cast<int>(report.events[i].kind)], true, i});
    for (std::size_t i = 0; i < report.readouts.size(); ++i)
        order_.push_back({report.readouts[i].at, 2, false, i});
    // Both lists come by serial, then time; a stable sort keeps that among equal times.
    std::stable_sort(order_.begin(), order_.end(), [](const Entry& a, const Entry& b) {
        return a.at != b.at ? a.at < b.at : a.rank < b.rank;
    });
    for (std::size_t i = 0; i < report.corrections.size(); ++i)
        correctionsOf_[report.corrections[i].readout].push_back(i);
}

std::string DoseRecordSheet::title() const {
    return FillIn(Tr(IDS_REPORT_TITLE, language_), {std::to_string(report_.annual.year)});
}

std::string DoseRecordSheet::site() const {
    if (report_.site)
        return *report_.site;
    return Tr(IDS_REPORT_SITE_NOT_NAMED, language_);
}

std::string DoseRecordSheet::wearerLine() const {
    return report_.wearer.name + " (ID " + report_.annual.wearer + ")";
}

std::string DoseRecordSheet::period() const {
    const int year = report_.annual.year;
    return DateText(YearStart(year)) + " \xE2\x80\x93 " + DateText(YearStart(year + 1) - 1) + " (UTC)";
}

std::vector<std::pair<std::string, std::string>> DoseRecordSheet::particulars() const {
    std::vector<std::pair<std::string, std::string>> out = {
        {Tr(IDS_REPORT_SITE, language_), site()},
        {Tr(IDS_REPORT_WEARER, language_), report_.wearer.name},
        {"ID", report_.annual.wearer},
    };
    if (report_.wearer.born)
        out.push_back({Tr(IDS_REPORT_BORN, language_), *report_.wearer.born});
    out.push_back({Tr(IDS_REPORT_PERIOD, language_), period()});
    std::set<std::string> worn;
    for (const AttributedReadout& o : report_.readouts)
        worn.insert(o.serial);
    for (const ReportEvent& e : report_.events)
        worn.insert(e.serial);
    std::string serials;
    for (const std::string& s : worn)
        serials += (serials.empty() ? "" : ", ") + s;
    out.push_back({Tr(IDS_REPORT_DOSIMETERS, language_), serials.empty() ? "\xE2\x80\x94" : serials});
    out.push_back({Tr(IDS_REPORT_PRINTED, language_), printed()});
    return out;
}

std::string DoseRecordSheet::printed() const {
    return FillIn(Tr(IDS_REPORT_PRINTED_BY, language_),
                  {TimeText(report_.printedAt), report_.printedBy.operatorName, report_.printedBy.station});
}

std::string DoseRecordSheet::footer() const {
    return Tr(IDS_REPORT_PRINTED, language_) + ": " + printed();
}

std::string DoseRecordSheet::pageNumber(int page, int pages) const {
    return FillIn(Tr(IDS_REPORT_PAGE, language_), {std::to_string(page), std::to_string(pages)});
}

std::string DoseRecordSheet::flagText(const std::string& flag) const {
    static const std::pair<const char*, StringId> kFlags[] = {
        {"baseline", IDS_REPORT_FLAG_BASELINE},
        {"after-erase", IDS_REPORT_FLAG_AFTER_ERASE},
        {"reset", IDS_REPORT_FLAG_RESET},
        {"no-dose", IDS_REPORT_FLAG_NO_DOSE},
        {"invalid-dose", IDS_REPORT_FLAG_INVALID_DOSE},
    };
    for (const auto& [name, id] : kFlags)
        if (flag == name)
            return Tr(id, language_);
    return flag; // a flag this version does not know yet is shown as stored
}

ReportRow DoseRecordSheet::row(std::size_t i) const {
    const Entry& entry = order_[i];
    ReportRow row;
    if (entry.event) {
        const ReportEvent& e = report_.events[entry.index];
        row.event = true;
        row.cells[0] = TimeText(e.at);
        row.cells[1] = e.serial;
        switch (e.kind) {
        case ReportEvent::Kind::HandOut: row.cells[4] = Tr(IDS_REPORT_HANDED_OUT, language_); break;
        case ReportEvent::Kind::HandBack: row.cells[4] = Tr(IDS_REPORT_HANDED_BACK, language_); break;
        case ReportEvent::Kind::Erase:
            row.cells[4] = Tr(IDS_REPORT_ERASED, language_);
            if (e.totalDoseBefore)
                row.cells[kTotalColumn] = MilliSievertText(*e.totalDoseBefore);
            break;
        }
        return row;
    }
    const AttributedReadout& o = report_.readouts[entry.index];
    row.cells[0] = TimeText(o.at);
    row.cells[1] = o.serial;
    row.cells[kTotalColumn] = OptionalDose(o.totalDose);
    row.cells[kIncrementColumn] = OptionalDose(o.accounted.increment);
    std::string notes;
    for (const std::string& flag : o.accounted.flags)
        notes += (notes.empty() ? "" : "; ") + flagText(flag);
    if (auto it = correctionsOf_.find(o.readout); it != correctionsOf_.end()) {
        notes += (notes.empty() ? "" : "; ") + Tr(IDS_REPORT_CORRECTED, language_);
        for (std::size_t c : it->second) {
            const ReportCorrection& k = report_.corrections[c];
            row.corrections.push_back(FillIn(Tr(IDS_REPORT_CORRECTION, language_),
                                             {TimeText(k.at), k.by, OptionalDose(k.before), OptionalDose(k.after),
                                              k.reason}));
        }
    }
    row.cells[4] = std::move(notes);
    return row;
}

std::string DoseRecordSheet::noReadouts() const {
    return FillIn(Tr(IDS_REPORT_NO_READOUTS, language_), {std::to_string(report_.annual.year)});
}

std::vector<DoseRecordSheet::SummaryRow> DoseRecordSheet::summary() const {
    const AnnualDose& a = report_.annual;
    const std::string year = std::to_string(a.year);
    auto row = [&](std::string what, std::string dose, StringId limitName, double limit, const char* name) {
        const bool reached = std::find(a.exceeded.begin(), a.exceeded.end(), name) != a.exceeded.end();
        return SummaryRow{{std::move(what), std::move(dose), Tr(limitName, language_), MilliSievertText(limit),
                           Tr(reached ? IDS_REPORT_REACHED : IDS_REPORT_NOT_REACHED, language_)},
                          reached};
    };
    return {
        {{"", Tr(IDS_REPORT_COL_DOSE, language_), Tr(IDS_REPORT_COL_LIMIT, language_),
          Tr(IDS_REPORT_COL_LIMIT_VALUE, language_), Tr(IDS_REPORT_COL_REACHED, language_)},
         false},
        row(FillIn(Tr(IDS_REPORT_DOSE_IN_YEAR, language_), {year}), MilliSievertText(a.dose), IDS_REPORT_ANNUAL_LIMIT,
            a.limits.annual, "annual"),
        row("", "", IDS_REPORT_SINGLE_YEAR_LIMIT, a.limits.singleYear, "single_year"),
        row("", "", IDS_REPORT_INVESTIGATION_LEVEL, a.limits.investigation, "investigation"),
        row(FillIn(Tr(IDS_REPORT_DOSE_IN_YEARS, language_), {std::to_string(a.year - 4), year}),
            MilliSievertText(a.fiveYearDose), IDS_REPORT_FIVE_YEAR_LIMIT, a.limits.fiveYear, "five_year"),
    };
}

std::vector<std::string> DoseRecordSheet::conclusions() const {
    const AnnualDose& a = report_.annual;
    std::vector<std::string> out;
    const std::string year = MilliSievertText(a.dose), five = MilliSievertText(a.fiveYearDose);
    for (const std::string& name : a.exceeded) {
        if (name == "annual")
            out.push_back(FillIn(Tr(IDS_REPORT_ANNUAL_REACHED, language_), {year, MilliSievertText(a.limits.annual)}));
        else if (name == "single_year")
            out.push_back(FillIn(Tr(IDS_REPORT_SINGLE_YEAR_REACHED, language_),
                                 {year, MilliSievertText(a.limits.singleYear)}));
        else if (name == "five_year")
            out.push_back(FillIn(Tr(IDS_REPORT_FIVE_YEAR_REACHED, language_),
                                 {five, MilliSievertText(a.limits.fiveYear)}));
        else if (name == "investigation")
            out.push_back(FillIn(Tr(IDS_REPORT_INVESTIGATION_REACHED, language_),
                                 {year, MilliSievertText(a.limits.investigation)}));
    }
    if (out.empty())
        out.push_back(Tr(IDS_REPORT_NOTHING_REACHED, language_));
    return out;
}

std::vector<std::string> DoseRecordSheet::signatures() const {
    return {Tr(IDS_REPORT_WEARER, language_) + ": " + report_.wearer.name, Tr(IDS_REPORT_OFFICER, language_)};
}

std::string DoseRecordSheet::signatureWord() const { return Tr(IDS_REPORT_SIGNATURE, language_); }
std::string DoseRecordSheet::dateWord() const { return Tr(IDS_REPORT_DATE, language_); }

} // namespace dm::records
