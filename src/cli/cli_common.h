#pragma once
// What every subcommand shares: option parsing, failures with their exit codes, and
// the input and output conventions of the command-line contract.
#include "core/language.h"

#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace dm::cli {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1; // the operation failed
constexpr int kExitUsage = 2;  // usage error or unreadable input file

// Thrown by a subcommand to end with one line on stderr ("dosimeter-cli: " + message)
// and the exit code; caught in main, so no partial output is printed.
struct Failure : std::runtime_error {
    Failure(int code, const std::string& message) : std::runtime_error(message), exitCode(code) {}
    int exitCode;
};

[[noreturn]] void Fail(int exitCode, const std::string& message);

// A small option parser: "--name value", "--name=value" and flags; everything not
// starting with "--" is positional. Unknown options are usage errors.
class Options {
public:
    Options(std::string command, std::string usage);

    void flag(const std::string& name, bool* target);
    void value(const std::string& name, std::string* target);
    void list(const std::string& name, std::vector<std::string>* target);

    // Parses args; returns false when --help was asked (the usage text has then been
    // printed to stdout). Throws Failure(kExitUsage) on errors.
    bool parse(const std::vector<std::string>& args, std::vector<std::string>* positional);

    const std::string& usage() const { return usage_; }
    [[noreturn]] void usageError(const std::string& message) const;

private:
    std::string command_;
    std::string usage_;
    std::map<std::string, bool*> flags_;
    std::map<std::string, std::string*> values_;
    std::map<std::string, std::vector<std::string>*> lists_;
};

// "--lang en|ru" to the interface language (English when the option is not given).
Language LanguageFromOption(const std::string& lang);

// Integer option text; usage error naming the option when it is not a whole number.
long long IntegerOption(const std::string& option, const std::string& text);
double NumberOption(const std::string& option, const std::string& text);

// The whole file as bytes; a usage failure (exit 2) naming the file when unreadable.
std::string ReadInputFile(const std::filesystem::path& path);

// A reply file given as input, read as if just beamed (zero bytes to blanks, LF to
// CR LF, Windows-1251 to UTF-8).
std::string ReadReplyInput(const std::filesystem::path& path);

// The catalogue from --catalogue, else "Commands.lst" here or installed; a missing file
// is a usage failure. fileName, when given, gets the file's name as found.
std::string LoadCatalogueOption(const std::string& option, Language language, std::string* fileName = nullptr);

// Called first in main: a reader that closed the pipe (`... | head -c 10`) makes a write
// fail with EPIPE instead of ending the program by SIGPIPE, so a closed pipe ends the
// command as a full disk does: the one stderr line and exit 1.
void PrepareStdout();

// Writes bytes to stdout unchanged (binary) and flushes them; a failed write or flush is
// a Failure (exit 1) naming stdout and the reason, so a full disk never passes as success.
void WriteStdout(const std::string& bytes);

// "cannot write to stdout: REASON" for the errno value err.
std::string StdoutFailureText(int err);

// Minimal JSON string quoting (UTF-8 kept as is).
std::string JsonString(const std::string& text);
// A JSON array of strings on one line: ["a", "b"].
std::string JsonStrings(const std::vector<std::string>& items);
inline std::string JsonBool(bool v) { return v ? "true" : "false"; }

} // namespace dm::cli
