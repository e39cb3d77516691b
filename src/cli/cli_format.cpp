#include "cli/cli_common.h"
#include "cli/commands.h"

#include "core/format.h"
#include "core/numbers.h"

#include <cstdio>
#include <cstdlib>

namespace dm::cli {

int RunFormatDose(const Args& args) {
    Options options("format-dose",
                    "usage: dosimeter-cli format-dose [--chart] [--lang en|ru] VALUE...\n"
                    "Prints the dose formatting of each VALUE (Sv, read as C strtod reads it),\n"
                    "one line per value; --chart uses the chart's own dose formatting.\n");
    bool chart = false;
    std::string lang;
    options.flag("--chart", &chart);
    options.value("--lang", &lang);
    std::vector<std::string> values;
    if (!options.parse(args, &values))
        return kExitOk;
    if (values.empty())
        options.usageError("give at least one VALUE");
    const Language language = LanguageFromOption(lang);
    std::string out;
    for (const std::string& v : values) {
        const double sv = std::strtod(v.c_str(), nullptr);
        out += (chart ? FormatDoseChart(sv, language) : FormatDose(sv, language)) + "\n";
    }
    WriteStdout(out);
    return kExitOk;
}

int RunFormatDuration(const Args& args) {
    Options options("format-duration",
                    "usage: dosimeter-cli format-duration SECONDS...\n"
                    "Prints each whole number of seconds as hours:minutes:seconds.\n");
    std::vector<std::string> values;
    // Negative numbers look like options; take everything after the command as values
    // unless it is --help.
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            WriteStdout(options.usage());
            return kExitOk;
        }
        values.push_back(a);
    }
    if (values.empty())
        options.usageError("give at least one SECONDS value");
    std::string out;
    for (const std::string& v : values)
        out += FormatDuration(IntegerOption("SECONDS", v)) + "\n";
    WriteStdout(out);
    return kExitOk;
}

int RunParseNumber(const Args& args) {
    Options options("parse-number",
                    "usage: dosimeter-cli parse-number TEXT...\n"
                    "Prints the dosimeter's number reading of each TEXT as %.17g.\n");
    std::vector<std::string> values;
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            WriteStdout(options.usage());
            return kExitOk;
        }
        values.push_back(a);
    }
    if (values.empty())
        options.usageError("give at least one TEXT");
    std::string out;
    for (const std::string& v : values) {
        out += CNumberText(ParseDeviceNumber(v), 'g', 17) + '\n';
    }
    WriteStdout(out);
    return kExitOk;
}

} // namespace dm::cli
