// Wearers and the dose of record from the command line: wearers, who wears which
// dosimeter, the doses of a period and a year against the limits, CSV and the PDF record,
// and the site's name that heads it.
#include "cli/cli_common.h"
#include "cli/commands.h"

#include "core/format.h"
#include "records/dose_of_record.h"
#include "records/capture.h"
#include "records/records_export.h"
#include "records/site_settings.h"
#include "records/utc_time.h"

#ifdef DM_CLI_WITH_RECORDS_REPORT
#include "cli/cli_gui_application.h"
#include "records/dose_report_pdf.h"
#endif


#include <cstdio>
#include <memory>

namespace dm::cli {
namespace {

using records::DoseOfRecord;
using records::RecordsError;
using records::RecordsRepository;

const char* kUsage =
    "usage: dosimeter-cli records [--db URL] COMMAND [OPTIONS...]\n"
    "Wearers and the dose of record:\n"
    "  wearer-add --id ID --name NAME [--born YYYY-MM-DD]   add a wearer\n"
    "  wearers [--json]                                      every wearer, by ID\n"
    "  assign --serial S --wearer ID --from TIME             hand a dosimeter out\n"
    "  unassign --serial S --at TIME                         take it back\n"
    "  dose --wearer ID --from TIME --to TIME [--json]       dose of readouts FROM <= at < TO\n"
    "  annual --wearer ID --year YYYY [--json]               the year's and five years' dose\n"
    "  limits [--annual SV] [--single-year SV] [--five-year SV] [--investigation SV] [--json]\n"
    "  limits --at TIME [--json]   the limits that were in force at TIME (each change is kept)\n"
    "  export --table dosimeters|readouts|wearers|doses [--year YYYY] --csv FILE\n"
    "  report --wearer ID --year YYYY --pdf FILE [--lang en|ru]\n"
    "                                                        the yearly dose record to sign\n"
    "  site [--name NAME] [--json]                           the site's name heading it\n"
    "Times are UTC, exactly YYYY-MM-DDThh:mm:ssZ; doses in Sv.\n";

std::string Num(double v) { return records::NumberText(v); }
std::string Dose(double v) { return v > 0 ? FormatDose(v, Language::English) : "0"; }

std::int64_t Time(const std::string& option, const std::string& text) {
    if (text.empty())
        Fail(kExitUsage, option + " is required (YYYY-MM-DDThh:mm:ssZ)");
    const auto t = records::ParseUtcTime(text);
    if (!t)
        Fail(kExitUsage, option + ": expected a UTC time YYYY-MM-DDThh:mm:ssZ, got '" + text + "'");
    return *t;
}

int Year(const std::string& text) {
    if (text.empty())
        Fail(kExitUsage, "--year is required (YYYY)");
    if (text.size() != 4 || text.find_first_not_of("0123456789") != std::string::npos)
        Fail(kExitUsage, "--year: expected a year YYYY, got '" + text + "'");
    return std::stoi(text);
}

const std::string& Required(const std::string& option, const std::string& value) {
    if (value.empty())
        Fail(kExitUsage, option + " is required");
    return value;
}

std::optional<double> Sv(const std::string& option, const std::string& text) {
    if (text.empty())
        return std::nullopt;
    const double v = NumberOption(option, text);
    if (!std::isfinite(v) || v <= 0)
        Fail(kExitUsage, option + ": expected a positive dose in Sv, got '" + text + "'");
    return v;
}

struct Command {
    std::string name;
    std::string dbUrl;
    Options options;
    std::unique_ptr<RecordsRepository> repo;

    Command(std::string n, std::string url)
        : name(std::move(n)), dbUrl(std::move(url)), options("records " + name, kUsage) {
        options.value("--db", &dbUrl);
    }

    // False when --help was asked; a positional argument is a usage error.
    bool parse(const Args& args) { return options.parse(args, nullptr); }

    // forReading: a command that changes nothing (see OpenRecords).
    RecordsRepository& open(bool forReading = false) {
        repo = OpenRecords(name, dbUrl, forReading);
        return *repo;
    }

    // The store's answer to a refused or failed request, as an exit status.
    [[noreturn]] void failed(const RecordsError& e) const {
        const bool usage = e.kind() == RecordsError::Kind::Refused || e.kind() == RecordsError::Kind::UnknownSerial;
        Fail(usage ? kExitUsage : kExitFailed, "records " + name + ": " + e.what());
    }
};

std::string Joined(const std::vector<std::string>& items, const char* separator) {
    std::string out;
    for (const std::string& s : items)
        out += (out.empty() ? "" : separator) + s;
    return out.empty() ? "-" : out;
}

std::string LimitsJson(const records::DoseLimits& l) {
    return "{\"annual\": " + Num(l.annual) + ", \"single_year\": " + Num(l.singleYear) +
           ", \"five_year\": " + Num(l.fiveYear) + ", \"investigation\": " + Num(l.investigation) + "}";
}

int WearerAdd(Command& c, const Args& args) {
    std::string id, name, born;
    c.options.value("--id", &id);
    c.options.value("--name", &name);
    c.options.value("--born", &born);
    if (!c.parse(args))
        return kExitOk;
    Required("--id", id);
    Required("--name", name);
    if (!born.empty() && !records::ParseUtcTime(born + "T00:00:00Z"))
        Fail(kExitUsage, "--born: expected a date YYYY-MM-DD, got '" + born + "'");
    DoseOfRecord records(c.open());
    try {
        records.addWearer(id, name, born.empty() ? std::nullopt : std::optional<std::string>(born));
    } catch (const RecordsError& e) {
        c.failed(e);
    }
    WriteStdout("wearer " + id + " added\n");
    return kExitOk;
}

int Wearers(Command& c, const Args& args) {
    bool json = false;
    c.options.flag("--json", &json);
    if (!c.parse(args))
        return kExitOk;
    std::vector<records::Wearer> list;
    try {
        list = DoseOfRecord(c.open(true)).wearers();
    } catch (const RecordsError& e) {
        c.failed(e);
    }
    std::string out;
    if (json) {
        out = "[";
        for (std::size_t i = 0; i < list.size(); ++i) {
            const auto& w = list[i];
            out += std::string(i ? ",\n " : "\n ") + "{\"id\": " + JsonString(w.id) + ", \"name\": " +
                   JsonString(w.name) + ", \"born\": " + (w.born ? JsonString(*w.born) : "null") +
                   ", \"dosimeters\": " + JsonStrings(w.dosimeters) + "}";
        }
        out += list.empty() ? "]\n" : "\n]\n";
    } else {
        out = "id\tname\tborn\tdosimeters\n";
        for (const auto& w : list)
            out += w.id + "\t" + w.name + "\t" + w.born.value_or("-") + "\t" + Joined(w.dosimeters, ",") + "\n";
    }
    WriteStdout(out);
    return kExitOk;
}

int Assign(Command& c, const Args& args) {
    std::string serial, wearer, from;
    c.options.value("--serial", &serial);
    c.options.value("--wearer", &wearer);
    c.options.value("--from", &from);
    if (!c.parse(args))
        return kExitOk;
    Required("--serial", serial);
    Required("--wearer", wearer);
    const std::int64_t when = Time("--from", from);
    try {
        DoseOfRecord(c.open()).assign(serial, wearer, when);
    } catch (const RecordsError& e) {
        c.failed(e);
    }
    WriteStdout(serial + " worn by " + wearer + " from " + records::FormatUtcTime(when) + "\n");
    return kExitOk;
}

int Unassign(Command& c, const Args& args) {
    std::string serial, at;
    c.options.value("--serial", &serial);
    c.options.value("--at", &at);
    if (!c.parse(args))
        return kExitOk;
    Required("--serial", serial);
    const std::int64_t when = Time("--at", at);
    try {
        DoseOfRecord(c.open()).unassign(serial, when);
    } catch (const RecordsError& e) {
        c.failed(e);
    }
    WriteStdout(serial + " handed back at " + records::FormatUtcTime(when) + "\n");
    return kExitOk;
}

int DoseCommand(Command& c, const Args& args) {
    std::string wearer, from, to;
    bool json = false;
    c.options.value("--wearer", &wearer);
    c.options.value("--from", &from);
    c.options.value("--to", &to);
    c.options.flag("--json", &json);
    if (!c.parse(args))
        return kExitOk;
    Required("--wearer", wearer);
    const std::int64_t start = Time("--from", from);
    const std::int64_t end = Time("--to", to);
    if (end < start)
        Fail(kExitUsage, "--to " + to + " is before --from " + from);
    records::WearerDose d;
    try {
        d = DoseOfRecord(c.open(true)).dose(wearer, start, end);
    } catch (const RecordsError& e) {
        c.failed(e);
    }
    if (json)
        WriteStdout("{\"wearer\": " + JsonString(d.wearer) + ", \"from\": " + JsonString(from) +
                    ", \"to\": " + JsonString(to) + ", \"dose\": " + Num(d.dose) +
                    ", \"readouts\": " + std::to_string(d.readouts) + "}\n");
    else
        WriteStdout("wearer\tfrom\tto\tdose\treadouts\n" + d.wearer + "\t" + from + "\t" + to + "\t" + Dose(d.dose) +
                    "\t" + std::to_string(d.readouts) + "\n");
    return kExitOk;
}

int Annual(Command& c, const Args& args) {
    std::string wearer, yearText;
    bool json = false;
    c.options.value("--wearer", &wearer);
    c.options.value("--year", &yearText);
    c.options.flag("--json", &json);
    if (!c.parse(args))
        return kExitOk;
    Required("--wearer", wearer);
    const int year = Year(yearText);
    records::AnnualDose a;
    try {
        a = DoseOfRecord(c.open(true)).annual(wearer, year);
    } catch (const RecordsError& e) {
        c.failed(e);
    }
    if (json) {
        WriteStdout("{\"wearer\": " + JsonString(a.wearer) + ", \"year\": " + std::to_string(a.year) +
                    ", \"dose\": " + Num(a.dose) + ", \"five_year_dose\": " + Num(a.fiveYearDose) +
                    ", \"limits\": " + LimitsJson(a.limits) + ", \"exceeded\": " + JsonStrings(a.exceeded) + "}\n");
    } else {
        WriteStdout("wearer\t" + a.wearer + "\nyear\t" + std::to_string(a.year) + "\ndose\t" + Dose(a.dose) +
                    "\nfive-year dose\t" + Dose(a.fiveYearDose) + "\nlimits\tannual " + Dose(a.limits.annual) +
                    ", single year " + Dose(a.limits.singleYear) + ", five years " + Dose(a.limits.fiveYear) +
                    ", investigation " + Dose(a.limits.investigation) + "\nexceeded\t" +
                    Joined(a.exceeded, ",") + "\n");
    }
    return kExitOk;
}

int Limits(Command& c, const Args& args) {
    std::string annual, singleYear, fiveYear, investigation, at;
    bool json = false;
    c.options.value("--at", &at);
    c.options.value("--annual", &annual);
    c.options.value("--single-year", &singleYear);
    c.options.value("--five-year", &fiveYear);
    c.options.value("--investigation", &investigation);
    c.options.flag("--json", &json);
    if (!c.parse(args))
        return kExitOk;
    const records::LimitChanges changes{Sv("--annual", annual), Sv("--single-year", singleYear),
                                        Sv("--five-year", fiveYear), Sv("--investigation", investigation)};
    const bool setting = changes.annual || changes.singleYear || changes.fiveYear || changes.investigation;
    if (setting && !at.empty())
        Fail(kExitUsage, "limits: --at reads the limits of a past time; a change is in force from now");
    const std::optional<std::int64_t> when = at.empty() ? std::nullopt : std::optional<std::int64_t>(Time("--at", at));
    records::DoseLimits l;
    try {
        DoseOfRecord records(c.open(!setting));
        l = setting ? records.setLimits(changes) : records.limitsAt(when);
    } catch (const RecordsError& e) {
        c.failed(e);
    }
    if (json)
        WriteStdout(LimitsJson(l) + "\n");
    else
        WriteStdout("annual\t" + Dose(l.annual) + "\nsingle_year\t" + Dose(l.singleYear) + "\nfive_year\t" +
                    Dose(l.fiveYear) + "\ninvestigation\t" + Dose(l.investigation) + "\n");
    return kExitOk;
}

int Export(Command& c, const Args& args) {
    std::string table, yearText, csv;
    c.options.value("--table", &table);
    c.options.value("--year", &yearText);
    c.options.value("--csv", &csv);
    if (!c.parse(args))
        return kExitOk;
    if (!records::IsExportTable(Required("--table", table)))
        Fail(kExitUsage, "--table: expected dosimeters, readouts, wearers or doses, got '" + table + "'");
    Required("--csv", csv);
    const std::optional<int> year = yearText.empty() ? std::nullopt : std::optional<int>(Year(yearText));
    std::string bytes;
    try {
        bytes = records::ExportCsv(c.open(true), table, year);
    } catch (const RecordsError& e) {
        c.failed(e);
    }
    std::string error;
    if (!records::WriteWholeFile(csv, bytes, &error))
        Fail(kExitFailed, "records export: --csv " + error);
    WriteStdout(csv + "\n");
    return kExitOk;
}

int Report(Command& c, const Args& args) {
    std::string wearer, yearText, pdf, lang;
    c.options.value("--wearer", &wearer);
    c.options.value("--year", &yearText);
    c.options.value("--pdf", &pdf);
    c.options.value("--lang", &lang);
    if (!c.parse(args))
        return kExitOk;
    Required("--wearer", wearer);
    const int year = Year(yearText);
    Required("--pdf", pdf);
    const Language language = LanguageFromOption(lang);
#ifdef DM_CLI_WITH_RECORDS_REPORT
    const auto app = MakeGuiApplication(); // the PDF writer lays text out with fonts
    records::DoseRecordReport report;
    try {
        report = records::BuildDoseRecordReport(DoseOfRecord(c.open(true)), wearer, year);
    } catch (const RecordsError& e) {
        c.failed(e);
    }
    std::string error;
    if (!records::WriteDoseRecordPdf(report, pdf, &error, language))
        Fail(kExitFailed, "records report: --pdf " + error);
    c.repo.reset();
    WriteStdout(pdf + "\n");
    return kExitOk;
#else
    (void)language;
    Fail(kExitFailed, "records report: this build has no PDF writer (built without Qt Gui)");
#endif
}

int Site(Command& c, const Args& args) {
    std::string name;
    bool json = false, named = false;
    c.options.value("--name", &name);
    c.options.flag("--json", &json);
    if (!c.parse(args))
        return kExitOk;
    for (const std::string& a : args)
        named = named || a == "--name" || a.rfind("--name=", 0) == 0;
    std::optional<std::string> site;
    try {
        RecordsRepository& repo = c.open();
        if (named)
            records::SetSiteName(repo, name, records::LocalOrigin().operatorName, records::UtcNow());
        site = records::SiteName(repo);
    } catch (const RecordsError& e) {
        c.failed(e);
    }
    if (json)
        WriteStdout(std::string("{\"name\": ") + (site ? JsonString(*site) : "null") + "}\n");
    else
        WriteStdout((site ? *site : "-") + "\n");
    return kExitOk;
}

} // namespace

int RunRecordsWearerCommand(const std::string& name, const std::string& dbUrl, const Args& args) {
    using Run = int (*)(Command&, const Args&);
    static const std::pair<const char*, Run> commands[] = {
        {"wearer-add", WearerAdd}, {"wearers", Wearers}, {"assign", Assign}, {"unassign", Unassign},
        {"dose", DoseCommand},     {"annual", Annual},   {"limits", Limits}, {"export", Export},
        {"report", Report},        {"site", Site},
    };
    for (const auto& [commandName, run] : commands) {
        if (name == commandName) {
            Command c(name, dbUrl);
            return run(c, args);
        }
    }
    return -1;
}

} // namespace dm::cli
