// The parameter table and the command files from the command line: the same parse,
// edit rules and composition the window uses. Edits go to the parameter set by key.
#include "cli/cli_common.h"
#include "cli/cli_controller.h"
#include "cli/cli_params.h"
#include "cli/commands.h"

#include "core/colour.h"
#include "core/numbers.h"
#include "core/string_table.h"
#include "core/text_file.h"
#include "params/catalogue_notice.h"
#include "params/change_check.h"
#include "params/command_files.h"
#include "params/edit_rules.h"
#include "params/parameter_set.h"
#include "params/parameter_table.h"
#include "params/row_presentation.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <optional>

namespace dm::cli {
namespace {

struct TableInput {
    std::string reply;
    std::string catalogue;
    std::string catalogueName; // as the warning about a missing section names it
    Language language = Language::English;
    int access = 0;
};

int AccessOption(const std::string& text) {
    if (text.empty())
        return 0;
    const long long mask = IntegerOption("--access", text);
    if (mask < 0 || mask > INT_MAX)
        Fail(kExitUsage, "--access: expected a mask from 0 to 7, got '" + text + "'");
    return static_cast<int>(mask);
}

// The table as the window shows it after the parse: its rows over the parsed set.
struct ParsedTable {
    ParameterSet set;
    std::vector<ParameterRow> rows;
    Language language = Language::English;
    ParameterTableState state;
};

// The table is still printed as the window shows it; the warning says why it is bare.
void WarnAboutBareCatalogue(const TableInput& in, const ParameterSet& set) {
    if (!set.replied())
        return;
    const std::string notice = CatalogueSectionNotice(in.catalogue, in.catalogueName, set.model(), in.language);
    if (!notice.empty())
        std::fprintf(stderr, "dosimeter-cli: warning: %s\n", notice.c_str());
}

void FillTableFrom(ParameterSet set, const TableInput& in, ParsedTable& table) {
    table.set = std::move(set);
    table.rows = ParameterRows(table.set, in.catalogue, in.language, in.access);
    table.language = in.language;
    table.state.caption = Tr(IDS_CAPTION, in.language); // the caption before any reply
    UpdateTableState(table.set, table.rows, in.language, table.state);
    WarnAboutBareCatalogue(in, table.set);
}

void FillTable(const TableInput& in, ParsedTable& table) { FillTableFrom(ReadParameterSet(in.reply), in, table); }

std::string TextTable(const ParsedTable& table) {
    const TableHeadings h = ParameterTableHeadings(table.language);
    std::string out = h.name + "\t" + h.key + "\t" + h.value + "\n";
    for (const ParameterRow& row : table.rows) {
        const RowPresentation r = PresentRow(table.set, row, table.language);
        out += r.name.text + "\t" + r.key + "\t" + r.value.text + "\n";
    }
    return out;
}

std::string JsonNumber(double v) {
    if (v == static_cast<double>(static_cast<long long>(v)) && v > -1e15 && v < 1e15)
        return CNumberText(v, 'f', 1);
    return CNumberText(v, 'g', 17);
}

std::string KindName(const CellPresentation& cell) {
    return cell.list ? "list" : "text";
}

std::string JsonTable(const ParsedTable& table, bool emptyReply) {
    const TableHeadings h = ParameterTableHeadings(table.language);
    std::string out = "{\n";
    out += "  \"caption\": " + JsonString(table.state.caption) + ",\n";
    out += std::string("  \"model\": ") +
           (emptyReply ? std::string("null") : "\"" + std::string(ModelName(table.state.model)) + "\"") +
           ",\n";
    out += "  \"history_interval\": " + JsonNumber(table.state.historyInterval) + ",\n";
    out += "  \"history_depth\": " + JsonNumber(table.state.historyDepth) + ",\n";
    out += "  \"headers\": " + JsonStrings({h.name, h.key, h.value}) + ",\n";
    out += "  \"rows\": [";
    bool first = true;
    for (const ParameterRow& row : table.rows) {
        const RowPresentation r = PresentRow(table.set, row, table.language);
        out += first ? "\n" : ",\n";
        first = false;
        out += "    { \"name\": " + JsonString(r.name.text) + ", \"key\": " + JsonString(r.key) +
               ", \"value\": " + JsonString(r.value.text) + ",\n";
        out += "      \"name_kind\": \"" + KindName(r.name) + "\", \"value_kind\": \"" + KindName(r.value) +
               "\",\n";
        out += "      \"name_options\": " + JsonStrings(r.name.options) +
               ", \"value_options\": " + JsonStrings(r.value.options) + ",\n";
        out += "      \"name_read_only\": " + JsonBool(r.name.readOnly) +
               ", \"key_read_only\": " + JsonBool(r.keyReadOnly) +
               ", \"value_read_only\": " + JsonBool(r.value.readOnly) + ",\n";
        out += "      \"name_modified\": " + JsonBool(r.name.modified) +
               ", \"value_modified\": " + JsonBool(r.value.modified) + ",\n";
        out += "      \"name_background\": \"" + ToHex(r.name.background) +
               "\", \"value_background\": \"" + ToHex(r.value.background) + "\" }";
    }
    out += table.rows.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

TableInput ReadTableInput(const std::string& replyPath, const std::string& catalogueOption,
                          const std::string& lang, const std::string& access) {
    TableInput in;
    in.language = LanguageFromOption(lang);
    in.access = AccessOption(access);
    in.reply = ReadReplyInput(replyPath);
    in.catalogue = LoadCatalogueOption(catalogueOption, in.language, &in.catalogueName);
    return in;
}

struct Edit {
    std::string option; // "--set", "--touch", "--signal", "--limit"
    std::string value;
};

// The edit options in the order given (the option parser keeps only each one's list).
std::vector<Edit> EditsInOrder(const Args& args) {
    static const std::vector<std::string> kEdits = {"--set", "--touch", "--signal", "--limit"};
    static const std::vector<std::string> kOtherValues = {"--catalogue", "--lang", "--access",
                                                          "--out-dir"};
    std::vector<Edit> edits;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        const bool isEdit = std::find(kEdits.begin(), kEdits.end(), name) != kEdits.end();
        const bool takesValue = isEdit || std::find(kOtherValues.begin(), kOtherValues.end(),
                                                    name) != kOtherValues.end();
        if (!takesValue)
            continue;
        std::string value;
        if (inlineValue) {
            value = *inlineValue;
        } else if (i + 1 < args.size()) {
            value = args[++i];
        }
        if (isEdit)
            edits.push_back({name, value});
    }
    return edits;
}

// The edits of one command line, applied to the set by key as the window's table would.
struct Editing {
    ParameterSet& set;
    std::vector<ParameterRow> rows;
    Language language;
};

const ParameterRow& EditableRowOfKey(const Editing& e, const std::string& option,
                                     const std::string& key) {
    for (const ParameterRow& row : e.rows) {
        if (row.key.empty() || row.key != key)
            continue;
        if (!row.editable)
            Fail(kExitUsage, option + ": the value of '" + key + "' is read-only");
        return row;
    }
    Fail(kExitUsage, option + ": no row with the key '" + key + "' in the parameter table");
}

// The dosimeter's word for a switch row's option in the table's language.
std::string SwitchWord(const Editing& e, const std::string& option, const std::string& key,
                       const std::string& shown) {
    if (const auto word = ChoiceWord(key, shown, e.language))
        return *word;
    std::string listed;
    for (const auto& o : ShownChoices(key, e.language))
        listed += (listed.empty() ? "'" : ", '") + o + "'";
    Fail(kExitUsage,
         option + ": '" + shown + "' is not an option of '" + key + "' (" + listed + ")");
}

// Opens the value's editor, as the user would, and closes it with the value. The history
// interval question counts as answered Yes.
void EditValue(Editing& e, const std::string& key, const std::string& value) {
    BeginEdit(e.set, key);
    EndEdit(e.set, key, value);
}

void ApplyEdit(Editing& e, const Edit& edit) {
    const ParameterRowType lastType =
        e.rows.empty() ? ParameterRowType::Catalogue : e.rows.back().type;
    if (edit.option == "--set") {
        const auto eq = edit.value.find('=');
        if (eq == std::string::npos || eq == 0)
            Fail(kExitUsage, "--set: expected KEY=VALUE, got '" + edit.value + "'");
        const std::string key = edit.value.substr(0, eq);
        std::string value = edit.value.substr(eq + 1);
        const ParameterRow& row = EditableRowOfKey(e, "--set", key);
        if (row.type == ParameterRowType::Switch)
            value = SwitchWord(e, "--set", key, value);
        EditValue(e, row.valueKey, value);
    } else if (edit.option == "--touch") {
        if (edit.value.empty())
            Fail(kExitUsage, "--touch: expected a KEY");
        const ParameterRow& row = EditableRowOfKey(e, "--touch", edit.value);
        EditValue(e, row.valueKey, e.set.value(row.valueKey).value_or(""));
    } else if (edit.option == "--signal") {
        if (edit.value != "fixed" && edit.value != "percent")
            Fail(kExitUsage, "--signal: expected fixed or percent, got '" + edit.value + "'");
        if (lastType != ParameterRowType::Signal)
            Fail(kExitUsage, "--signal: the table has no signal-type row (only a KRT-17A has one)");
        const std::string_view limitKey = SignalLimitKey(e.set);
        const std::string shown = limitKey.empty() ? "" : e.set.value(limitKey).value_or("");
        ChooseSignalType(e.set, edit.value, shown);
    } else if (edit.option == "--limit") {
        if (lastType != ParameterRowType::Signal && lastType != ParameterRowType::Limit)
            Fail(kExitUsage, "--limit: the table has no limit row to type into");
        SetSignalLimit(e.set, edit.value);
    }
}

int ComposeSendChangesCommand(const Args& args) {
    Options options(
        "compose send-changes",
        "usage: dosimeter-cli compose send-changes REPLY [--catalogue F] [--lang en|ru]\n"
        "         [--access MASK] [--set KEY=VALUE]... [--touch KEY]...\n"
        "         [--signal fixed|percent] [--limit VALUE] --out-dir DIR\n"
        "Fills the parameter table from REPLY, edits it as a user would (in the\n"
        "order given; a history interval change is confirmed), and writes the\n"
        "command files \"Send changes into dosimeter\" pushes as DIR/command-N.txt,\n"
        "printing their paths.\n");
    std::string catalogue, lang, access, outDir;
    std::vector<std::string> sets, touches, signals, limits;
    options.value("--catalogue", &catalogue);
    options.value("--lang", &lang);
    options.value("--access", &access);
    options.value("--out-dir", &outDir);
    options.list("--set", &sets);
    options.list("--touch", &touches);
    options.list("--signal", &signals);
    options.list("--limit", &limits);
    std::vector<std::string> positional;
    if (!options.parse(args, &positional))
        return kExitOk;
    if (positional.size() != 1)
        options.usageError("give exactly one REPLY file");
    if (outDir.empty())
        options.usageError("--out-dir DIR is required");

    const TableInput in = ReadTableInput(positional[0], catalogue, lang, access);
    // The same rules as the window's "Send changes": the controller reads the reply once,
    // the edits go into its set, and it checks and composes.
    CliController controller(in.language, in.catalogue, in.access);
    controller->takeParameterReply(in.reply);
    ParameterSet& set = controller->editableParameters();
    WarnAboutBareCatalogue(in, set);
    Editing editing{set, controller->rows(), in.language};
    for (const Edit& edit : EditsInOrder(args))
        ApplyEdit(editing, edit);

    // Refusals are worded in English, as every message of the tool.
    const ExchangeController::ComposedChanges composed = controller->composeChanges(Language::English, &editing.rows);
    const std::vector<ValueProblem>& refused = composed.refused;
    if (!refused.empty())
        Fail(kExitUsage, "compose send-changes: " + refused.front().key + " = \"" +
                             refused.front().value + "\" is not taken by the dosimeter: " +
                             refused.front().detail);
    const ExchangeStart& start = composed.start;
    if (start.files.empty())
        Fail(kExitFailed, "compose send-changes: the parameter table of " + positional[0] +
                              " has no parameter row; nothing would be sent");

    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (ec)
        Fail(kExitFailed,
             "compose send-changes: cannot create --out-dir " + outDir + ": " + ec.message());
    std::string paths;
    for (std::size_t i = 0; i < start.files.size(); ++i) {
        const std::filesystem::path file =
            std::filesystem::path(outDir) / ("command-" + std::to_string(i + 1) + ".txt");
        std::string error;
        if (!WriteFileAtomically(file, start.files[i], &error))
            Fail(kExitFailed, "compose send-changes: cannot write " + file.string() + ": " + error);
        paths += file.string() + "\n";
    }
    WriteStdout(paths);
    return kExitOk;
}

} // namespace

int RunParams(const Args& args) {
    Options options(
        "params",
        "usage: dosimeter-cli params REPLY [--catalogue F] [--lang en|ru] [--access MASK]\n"
        "         [--json] [--save-tab 0]\n"
        "Parses the parameter reply REPLY into the parameter table as the window does\n"
        "and prints it: one line per row (name, TAB, key, TAB, value), heading first;\n"
        "--json prints the table with its cell attributes; --save-tab 0 writes the\n"
        "bytes \"Save current table as...\" writes for the parameter tab.\n");
    std::string catalogue, lang, access, saveTab;
    bool json = false;
    options.value("--catalogue", &catalogue);
    options.value("--lang", &lang);
    options.value("--access", &access);
    options.value("--save-tab", &saveTab);
    options.flag("--json", &json);
    std::vector<std::string> positional;
    if (!options.parse(args, &positional))
        return kExitOk;
    if (positional.size() != 1)
        options.usageError("give exactly one REPLY file");
    if (!saveTab.empty() && saveTab != "0")
        options.usageError("--save-tab: the parameter table is tab 0, got '" + saveTab + "'");
    if (!saveTab.empty() && json)
        options.usageError("--json and --save-tab 0 exclude each other");

    const TableInput in = ReadTableInput(positional[0], catalogue, lang, access);
    ParsedTable table;
    FillTable(in, table);
    if (!saveTab.empty())
        WriteStdout(ParameterTableFileBytes(table.set, table.rows, table.language));
    else if (json)
        WriteStdout(JsonTable(table, in.reply.empty()));
    else
        WriteStdout(TextTable(table));
    return kExitOk;
}

int RunCompose(const Args& args) {
    static const std::string kUsage =
        "usage: dosimeter-cli compose get-parameters [--access MASK]\n"
        "       dosimeter-cli compose get-archive\n"
        "       dosimeter-cli compose erase\n"
        "       dosimeter-cli compose send-changes REPLY ... --out-dir DIR\n"
        "The first three write the bytes of the command file the button pushes to stdout.\n"
        "'dosimeter-cli compose send-changes --help' describes the last.\n";
    if (args.empty())
        Fail(kExitUsage, "compose: give what to compose (see 'dosimeter-cli compose --help')");
    const std::string& what = args[0];
    const Args rest(args.begin() + 1, args.end());
    if (what == "--help" || what == "-h") {
        WriteStdout(kUsage);
        return kExitOk;
    }
    if (what == "send-changes")
        return ComposeSendChangesCommand(rest);
    if (what == "get-parameters") {
        Options options("compose get-parameters",
                        "usage: dosimeter-cli compose get-parameters [--access MASK]\n"
                        "Writes the \"Get parameters\" command file; with a non-zero MASK it\n"
                        "carries the device password.\n");
        std::string access;
        options.value("--access", &access);
        if (!options.parse(rest, nullptr))
            return kExitOk;
        WriteStdout(ComposeGetParameters(AccessOption(access)).files.front());
        return kExitOk;
    }
    if (what == "get-archive" || what == "erase") {
        Options options("compose " + what,
                        "usage: dosimeter-cli compose " + what + "\nWrites the command file of \"" +
                            (what == "erase" ? "Erase total dose" : "Get dose history") + "\".\n");
        if (!options.parse(rest, nullptr))
            return kExitOk;
        WriteStdout(what == "erase" ? EraseTotalDoseCommand() : GetArchiveCommand());
        return kExitOk;
    }
    Fail(kExitUsage, "compose: unknown command file '" + what +
                         "' (get-parameters, get-archive, erase or send-changes)");
}

int AccessMaskOption(const std::string& text) {
    return AccessOption(text);
}

std::string ParameterTableOutput(const ParameterSet& set, bool emptyReply, const std::string& catalogue,
                                 Language language, int access, bool json, const std::string& catalogueName) {
    TableInput in;
    in.catalogue = catalogue;
    in.catalogueName = catalogueName;
    in.language = language;
    in.access = access;
    ParsedTable table;
    FillTableFrom(set, in, table);
    return json ? JsonTable(table, emptyReply) : TextTable(table);
}

} // namespace dm::cli
