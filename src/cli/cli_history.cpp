#include "cli/cli_history.h"

#include "cli/cli_common.h"
#include "cli/commands.h"

#include "core/string_table.h"
#include "history/history_table.h"
#include "history/table_save.h"

#include <cmath>

namespace dm::cli {
namespace {

// Gathers output and hands it to stdout in pieces, so a long archive never becomes one
// string. The last piece goes with flush().
class StdoutPieces {
public:
    std::string& buffer() { return buffer_; }
    // Call after each row.
    void rowDone() {
        if (buffer_.size() >= kPiece)
            flush();
    }
    void flush() {
        if (!buffer_.empty())
            WriteStdout(buffer_);
        buffer_.clear();
    }

private:
    static constexpr std::size_t kPiece = 64 * 1024;
    std::string buffer_;
};

void AppendTableText(StdoutPieces& out, const HistoryTable& table) {
    for (int row = 0; row < table.rowCount(); ++row) {
        for (int col = 0; col < table.colCount(); ++col) {
            if (col > 0)
                out.buffer() += '\t';
            out.buffer() += table.text(row, col);
        }
        out.buffer() += '\n';
        out.rowDone();
    }
}

void AppendTableJson(StdoutPieces& out, const HistoryTable& table) {
    std::string& b = out.buffer();
    b += "{\"widths\": [";
    for (int col = 0; col < table.colCount(); ++col)
        b += (col ? ", " : "") + std::to_string(table.colWidth(col));
    b += "], \"rows\": [";
    for (int row = 0; row < table.rowCount(); ++row) {
        out.buffer() += row ? ",\n    [" : "\n    [";
        for (int col = 0; col < table.colCount(); ++col) {
            if (col)
                out.buffer() += ", ";
            out.buffer() += JsonString(table.text(row, col));
        }
        out.buffer() += "]";
        out.rowDone();
    }
    out.buffer() += table.rowCount() ? "\n  ]}" : "]}";
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

DoseArchive ParseArchiveOrFail(std::string text, double historyInterval, const std::string& source) {
    if (text.size() > kMaxArchiveTextBytes)
        Fail(kExitFailed, source + ": the archive reply is too large to read (" +
                              std::to_string(text.size()) + " bytes as text)");
    return ParseDoseArchive(std::move(text), historyInterval);
}

void WriteArchiveTablesText(const DoseArchive& archive, Language language) {
    StdoutPieces out;
    out.buffer() = "# dose history\n";
    AppendTableText(out, HistoryTable(archive, HistoryTab::Dose, language));
    if (archive.layout() == ArchiveLayout::A) {
        out.buffer() += "# neutron history\n";
        AppendTableText(out, HistoryTable(archive, HistoryTab::Neutron, language));
    }
    out.flush();
}

void WriteArchiveTablesJson(const DoseArchive& archive, Language language) {
    const bool layoutA = archive.layout() == ArchiveLayout::A;
    StdoutPieces out;
    std::string& b = out.buffer();
    b = "{\n  \"layout\": ";
    b += layoutA ? "\"A\"" : "\"B\"";
    b += ",\n  \"has_neutron\": ";
    b += MeasuresNeutron(archive.model()) ? "true" : "false";
    b += ",\n  \"tabs\": [" + JsonString(Tr(IDS_TAB_PARAMETERS, language));
    for (const std::string& label : HistoryTabLabels(archive, language))
        b += ", " + JsonString(label);
    b += "],\n  \"dose\": ";
    AppendTableJson(out, HistoryTable(archive, HistoryTab::Dose, language));
    out.buffer() += ",\n  \"neutron\": ";
    if (layoutA)
        AppendTableJson(out, HistoryTable(archive, HistoryTab::Neutron, language));
    else
        out.buffer() += "null";
    out.buffer() += "\n}\n";
    out.flush();
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
    const Language language = LanguageFromOption(lang);
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

    const DoseArchive archive = ParseArchiveOrFail(ReadReplyInput(positional[0]), interval, positional[0]);

    if (saveTab == "1") {
        WriteStdout(DoseTableFileBytes(HistoryTable(archive, HistoryTab::Dose, language)));
    } else if (saveTab == "2") {
        if (archive.layout() != ArchiveLayout::A)
            Fail(kExitFailed, "--save-tab 2: " + positional[0] +
                                  " has no neutron section, so there is no neutron history tab");
        WriteStdout(NeutronTableFileBytes(HistoryTable(archive, HistoryTab::Neutron, language)));
    } else if (json) {
        WriteArchiveTablesJson(archive, language);
    } else {
        WriteArchiveTablesText(archive, language);
    }
    return kExitOk;
}

} // namespace dm::cli
