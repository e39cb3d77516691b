#include "cli/cli_common.h"

#include "core/numbers.h"
#include "core/reply_text.h"
#include "core/text_file.h"
#include "params/catalogue.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace dm::cli {

void Fail(int exitCode, const std::string& message) { throw Failure(exitCode, message); }

Options::Options(std::string command, std::string usage)
    : command_(std::move(command)), usage_(std::move(usage)) {}

void Options::flag(const std::string& name, bool* target) { flags_[name] = target; }
void Options::value(const std::string& name, std::string* target) { values_[name] = target; }
void Options::list(const std::string& name, std::vector<std::string>* target) {
    lists_[name] = target;
}

void Options::usageError(const std::string& message) const {
    Fail(kExitUsage, command_ + ": " + message + " (see 'dosimeter-cli " + command_ + " --help')");
}

bool Options::parse(const std::vector<std::string>& args, std::vector<std::string>* positional) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            WriteStdout(usage_.empty() || usage_.back() != '\n' ? usage_ + '\n' : usage_);
            return false;
        }
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0 || arg == "--") {
            if (arg == "--")
                continue;
            if (!positional)
                usageError("unexpected argument '" + arg + "'");
            positional->push_back(arg);
            continue;
        }
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (const auto eq = arg.find('='); eq != std::string::npos) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        if (auto f = flags_.find(name); f != flags_.end()) {
            if (inlineValue)
                usageError("option " + name + " takes no value");
            *f->second = true;
            continue;
        }
        auto takeValue = [&]() -> std::string {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 >= args.size())
                usageError("option " + name + " needs a value");
            return args[++i];
        };
        if (auto v = values_.find(name); v != values_.end()) {
            *v->second = takeValue();
            continue;
        }
        if (auto l = lists_.find(name); l != lists_.end()) {
            l->second->push_back(takeValue());
            continue;
        }
        usageError("unknown option " + name);
    }
    return true;
}

Language LanguageFromOption(const std::string& lang) {
    if (lang.empty() || lang == "en")
        return Language::English;
    if (lang == "ru")
        return Language::Russian;
    Fail(kExitUsage, "--lang: expected en or ru, got '" + lang + "'");
}

long long IntegerOption(const std::string& option, const std::string& text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        ++i;
    if (i == text.size())
        Fail(kExitUsage, option + ": expected a whole number, got '" + text + "'");
    for (; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9')
            Fail(kExitUsage, option + ": expected a whole number, got '" + text + "'");
    return LeadingInteger(text);
}

double NumberOption(const std::string& option, const std::string& text) {
    // Read as in the C locale: a records command runs after Qt set the user's locale.
    const std::optional<double> v = ParseNumberText(text);
    if (!v)
        Fail(kExitUsage, option + ": expected a number, got '" + text + "'");
    return *v;
}

std::string ReadInputFile(const std::filesystem::path& path) {
    auto bytes = TryReadFile(path);
    if (!bytes)
        Fail(kExitUsage, "cannot read input file " + path.string());
    return *bytes;
}

std::string ReadReplyInput(const std::filesystem::path& path) {
    return ReplyTextFromBytes(ReadInputFile(path));
}

std::string LoadCatalogueOption(const std::string& option, Language /*language*/, std::string* fileName) {
    const std::filesystem::path path =
        option.empty() ? FindDataFile("Commands.lst") : std::filesystem::path(option);
    if (fileName)
        *fileName = path.string();
    auto bytes = TryReadFile(path);
    if (!bytes)
        Fail(kExitUsage, "cannot read catalogue " + path.string() +
                             (option.empty() ? " (give one with --catalogue)" : ""));
    return DecodeCatalogue(*bytes);
}

void PrepareStdout() {
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

void WriteStdout(const std::string& bytes) {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    errno = 0;
    int err = 0;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size())
        err = errno ? errno : EIO;
    // A full disk often shows only when the buffer goes out.
    if (std::fflush(stdout) != 0 && err == 0)
        err = errno ? errno : EIO;
    if (err != 0)
        Fail(kExitFailed, StdoutFailureText(err));
}

std::string StdoutFailureText(int err) {
    return "cannot write to stdout: " + std::error_code(err, std::generic_category()).message();
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string JsonStrings(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i)
        out += (i ? ", " : "") + JsonString(items[i]);
    return out + "]";
}

} // namespace dm::cli
