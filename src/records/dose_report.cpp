#include "records/dose_report.h"

#include "core/format.h"
#include "records/corrections.h"
#include "records/utc_time.h"

#include <algorithm>
#include <cstdlib>
#include <set>

namespace dm::records {
namespace {

std::string Escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string Dose(double sv) { return sv > 0 ? FormatDose(sv, 0) : "0 mSv"; }

std::string Flags(const std::vector<std::string>& flags) {
    std::string out;
    for (const std::string& f : flags)
        out += (out.empty() ? "" : ", ") + f;
    return out;
}

} // namespace

DoseRecordReport BuildDoseRecordReport(const DoseOfRecord& records, const std::string& wearer, int year) {
    DoseRecordReport report;
    report.annual = records.annual(wearer, year); // refuses an unknown wearer
    for (Wearer& w : records.wearers())
        if (w.id == wearer)
            report.wearer = std::move(w);
    report.readouts = records.attributedReadouts(YearStart(year), YearStart(year + 1), wearer);
    std::set<std::int64_t> listed;
    std::set<std::string> serials;
    for (const AttributedReadout& o : report.readouts) {
        listed.insert(o.readout);
        serials.insert(o.serial);
    }
    for (const std::string& serial : serials)
        for (HistoryEntry& e : HistoryWithCorrections(records.repository(), serial))
            if (e.action == "correct" && e.readout && listed.count(*e.readout))
                report.corrections.push_back(std::move(e));
    std::stable_sort(report.corrections.begin(), report.corrections.end(),
                     [](const HistoryEntry& a, const HistoryEntry& b) { return a.at < b.at; });
    return report;
}

std::vector<std::string> LimitsInWords(const AnnualDose& a) {
    std::vector<std::string> out;
    for (const std::string& name : a.exceeded) {
        if (name == "annual")
            out.push_back("The year's dose " + Dose(a.dose) + " reached or passed the annual limit of " +
                          Dose(a.limits.annual) + ".");
        else if (name == "single_year")
            out.push_back("The year's dose " + Dose(a.dose) + " reached or passed the single-year limit of " +
                          Dose(a.limits.singleYear) + ".");
        else if (name == "five_year")
            out.push_back("The five years' dose " + Dose(a.fiveYearDose) +
                          " reached or passed the five-year limit of " + Dose(a.limits.fiveYear) + ".");
        else if (name == "investigation")
            out.push_back("The year's dose " + Dose(a.dose) + " reached or passed the investigation level of " +
                          Dose(a.limits.investigation) + ".");
    }
    if (out.empty())
        out.push_back("No limit and no investigation level was reached.");
    return out;
}

std::string DoseRecordHtml(const DoseRecordReport& r) {
    const AnnualDose& a = r.annual;
    const std::string year = std::to_string(a.year);
    std::string html = "<html><head><meta charset=\"utf-8\"></head><body>";
    html += "<h2>Dose record " + year + "</h2>";
    html += "<p>Name: " + Escape(r.wearer.name) + "<br>ID: " + Escape(a.wearer) +
            (r.wearer.born ? "<br>Born: " + Escape(*r.wearer.born) : "") + "<br>Year: " + year + "</p>";
    html += "<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\">"
            "<tr><th>Dosimeter</th><th>Time (UTC)</th><th>Total dose</th><th>Increment</th><th>Flags</th></tr>";
    for (const AttributedReadout& o : r.readouts)
        html += "<tr><td>" + Escape(o.serial) + "</td><td>" + FormatUtcTime(o.at) + "</td><td>" +
                (o.totalDose ? Dose(*o.totalDose) : "-") + "</td><td>" +
                (o.accounted.increment ? Dose(*o.accounted.increment) : "-") + "</td><td>" +
                Escape(Flags(o.accounted.flags)) + "</td></tr>";
    if (r.readouts.empty())
        html += "<tr><td colspan=\"5\">No readout is attributed to this wearer in " + year + ".</td></tr>";
    html += "</table>";
    // Each correction on lines of its own, so that a long reason never splits a time or a dose.
    for (const HistoryEntry& e : r.corrections) {
        const auto o = std::find_if(r.readouts.begin(), r.readouts.end(),
                                    [&](const AttributedReadout& x) { return x.readout == e.readout; });
        std::string change;
        for (const ChangeSent& c : e.changes)
            change += (c.before.empty() ? "-" : Dose(std::strtod(c.before.c_str(), nullptr))) + " to " +
                      Dose(std::strtod(c.after.c_str(), nullptr));
        html += "<p>Correction of the readout of " + Escape(o->serial) + " at " + FormatUtcTime(o->at) +
                ":<br>total dose " + change + "<br>by " + Escape(e.origin.operatorName) + " at " +
                FormatUtcTime(e.at) + "<br>reason: " + Escape(e.reason) + "</p>";
    }
    html += "<table cellspacing=\"0\" cellpadding=\"3\">";
    html += "<tr><td>Dose in " + year + ":</td><td>" + Dose(a.dose) + "</td><td>annual limit " +
            Dose(a.limits.annual) + ", single-year limit " + Dose(a.limits.singleYear) +
            ", investigation level " + Dose(a.limits.investigation) + "</td></tr>";
    html += "<tr><td>Dose in " + std::to_string(a.year - 4) + "-" + year + ":</td><td>" + Dose(a.fiveYearDose) +
            "</td><td>five-year limit " + Dose(a.limits.fiveYear) + "</td></tr></table>";
    for (const std::string& line : LimitsInWords(a))
        html += "<p>" + Escape(line) + "</p>";
    html += "</body></html>";
    return html;
}

} // namespace dm::records
