// dosimeter-cli: the command-line front end over the same core as the window.
#include "cli/cli_common.h"
#include "cli/commands.h"

#include <cerrno>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace {

struct Command {
    const char* name;
    const char* summary;
    int (*run)(const dm::cli::Args&);
};

const Command kCommands[] = {
    {"format-dose", "dose in Sv as the tables (or the chart) show it", dm::cli::RunFormatDose},
    {"format-duration", "whole seconds as hours:minutes:seconds", dm::cli::RunFormatDuration},
    {"parse-number", "the dosimeter's number reading of a text", dm::cli::RunParseNumber},
    {"params", "parse a parameter reply into the parameter table", dm::cli::RunParams},
    {"compose", "write the command files the buttons push", dm::cli::RunCompose},
    {"archive", "parse an archive reply into the history tables", dm::cli::RunArchive},
    {"chart", "render the dose diagram of an archive reply as PNG", dm::cli::RunChart},
    {"push", "push a file to a dosimeter as command.txt", dm::cli::RunPush},
    {"read-params", "read a dosimeter's parameters over a link", dm::cli::RunReadParams},
    {"read-archive", "read a dosimeter's dose history over a link", dm::cli::RunReadArchive},
    {"simulate", "run a simulated dosimeter", dm::cli::RunSimulate},
    {"adapters", "list the serial and USB ports that may be IrDA adapters", dm::cli::RunAdapters},
    {"records", "store and list readouts in the dose records database", dm::cli::RunRecords},
};

void PrintUsage(std::FILE* out) {
    std::fprintf(out, "usage: dosimeter-cli COMMAND [OPTIONS...]\n\ncommands:\n");
    for (const Command& c : kCommands)
        std::fprintf(out, "  %-16s %s\n", c.name, c.summary);
    std::fprintf(out, "\n'dosimeter-cli COMMAND --help' describes a command; --version prints the version.\n");
}

} // namespace

int main(int argc, char** argv) {
    dm::cli::PrepareStdout();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        PrintUsage(stderr);
        return dm::cli::kExitUsage;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help" || args[0] == "--version") {
        errno = 0;
        if (args[0] == "--version")
            std::fputs("dosimeter-cli " DM_VERSION "\n", stdout);
        else
            PrintUsage(stdout);
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            std::cerr << "dosimeter-cli: " << dm::cli::StdoutFailureText(errno ? errno : EIO) << '\n';
            return dm::cli::kExitFailed;
        }
        return dm::cli::kExitOk;
    }
    for (const Command& c : kCommands) {
        if (args[0] != c.name)
            continue;
        try {
            return c.run(dm::cli::Args(args.begin() + 1, args.end()));
        } catch (const dm::cli::Failure& f) {
            std::fflush(stdout);
            std::cerr << "dosimeter-cli: " << f.what() << '\n';
            return f.exitCode;
        } catch (const std::exception& e) {
            std::fflush(stdout);
            std::cerr << "dosimeter-cli: " << c.name << ": " << e.what() << '\n';
            return dm::cli::kExitFailed;
        }
    }
    std::cerr << "dosimeter-cli: unknown command '" << args[0] << "' (see 'dosimeter-cli --help')\n";
    return dm::cli::kExitUsage;
}
