#include "cli/cli_history.h"

#include "cli/cli_common.h"
#include "cli/commands.h"

#include "core/string_table.h"
#include "history/table_save.h"

#include <cmath>

namespace dm::cli {
namespace {

void AppendTableText(std::string& out, const HistoryTable& table) {
    for (int row = 0; row < table.rowCount(); ++row) {
        for (int col = 0; col < table.colCount(); ++col) {
            if (col > 0)
                out += '\t';
            out += table.text(row, col);
        }
        out += '\n';
    }
}

std::string TableJson(const HistoryTable& table) {
    std::string out = "{\"widths\": [";
    for (int col = 0; col < table.colCount(); ++col)
        out += (col ? ", " : "") + std::to_string(table.colWidth(col));
    out += "], \"rows\": [";
    for (int row = 0; row < table.rowCount(); ++row) {
        out += row ? ",\n    [" : "\n    [";
        for (int col = 0; col < table.colCount(); ++col)
            out += (col ? ", " : "") + JsonString(table.text(row, col));
        out += "]";
    }
    out += table.rowCount() ? "\n  ]}" : "]}";
    return out;
}

const char* kUsage =
    "usage: dosimeter-cli archive REPLY [--interval SECONDS] [--lang en|ru] [--json]\n"
    "                             [--save-tab 1|2]\n"
    "Parses the archive reply REPLY into the dose and neutron history tables, as the\n"
    "window does, and prints them.\n"
    "  --interval SECONDS  seconds between two gamma records (\"history_time\"); default 1\n"
    "  --lang en|ru        language of the headings and units; default en\n"
    "  --json              print the tables as one JSON object\n"
    "  --save-tab 1|2      write the bytes \"Save current table as...\" writes for that tab\n"
    "                      (1 dose history, 2 neutron history; tab 0 belongs to 'params')\n";

} // namespace

std::string ArchiveTablesText(const ArchiveParseResult& parse, const HistoryTable& dose,
                              const HistoryTable& neutron) {
    std::string out = "# dose history\n";
    AppendTableText(out, dose);
    if (parse.layout == 'A') {
        out += "# neutron history\n";
        AppendTableText(out, neutron);
    }
    return out;
}

std::string ArchiveTablesJson(const ArchiveParseResult& parse, const HistoryTable& dose,
                              const HistoryTable& neutron, int langBase) {
    std::string out = "{\n  \"layout\": ";
    out += parse.layout == 'A' ? "\"A\"" : "\"B\"";
    out += ",\n  \"has_neutron\": ";
    out += parse.neutron ? "true" : "false";
    out += ",\n  \"tabs\": [" + JsonString(Tr(IDS_TAB_PARAMETERS, langBase));
    for (const std::string& label : parse.tabLabels)
        out += ", " + JsonString(label);
    out += "],\n  \"dose\": " + TableJson(dose);
    out += ",\n  \"neutron\": " + (parse.layout == 'A' ? TableJson(neutron) : std::string("null"));
    out += "\n}\n";
    return out;
}

int RunArchive(const Args& args) {
    Options options("archive", kUsage);
    std::string intervalText, lang, saveTab;
    bool json = false;
    options.value("--interval", &intervalText);
    options.value("--lang", &lang);
    options.value("--save-tab", &saveTab);
    options.flag("--json", &json);
    std::vector<std::string> positional;
    if (!options.parse(args, &positional))
        return kExitOk;
    if (positional.size() != 1)
        options.usageError(positional.empty() ? "give the archive reply file"
                                              : "give exactly one archive reply file");
    const int langBase = LangBaseFromOption(lang);
    double interval = 1.0;
    if (!intervalText.empty()) {
        interval = NumberOption("--interval", intervalText);
        if (!std::isfinite(interval))
            Fail(kExitUsage, "--interval: expected a finite number of seconds, got '" + intervalText + "'");
    }
    if (!saveTab.empty() && saveTab != "1" && saveTab != "2")
        Fail(kExitUsage, "--save-tab: expected 1 or 2, got '" + saveTab +
                             "' (the parameter tab is saved by 'params --save-tab 0')");
    if (!saveTab.empty() && json)
        options.usageError("--json and --save-tab cannot be combined");

    const std::string reply = ReadReplyInput(positional[0]);
    HistoryTable dose, neutron;
    const ArchiveParseResult parse = ParseArchiveReply(reply, interval, langBase, dose, neutron);

    if (saveTab == "1") {
        WriteStdout(DoseTableFileBytes(dose));
    } else if (saveTab == "2") {
        if (parse.layout != 'A')
            Fail(kExitFailed, "--save-tab 2: " + positional[0] +
                                  " has no neutron section, so there is no neutron history tab");
        WriteStdout(NeutronTableFileBytes(neutron));
    } else if (json) {
        WriteStdout(ArchiveTablesJson(parse, dose, neutron, langBase));
    } else {
        WriteStdout(ArchiveTablesText(parse, dose, neutron));
    }
    return kExitOk;
}

} // namespace dm::cli
