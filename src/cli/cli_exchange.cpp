// read-params and read-archive: one exchange with a dosimeter over a link, run on the
// window's exchange cycle with a real one-second tick (and a look whenever the
// received-files folder changes in between), printing the reply as `params`
// and `archive` print a reply file.
#include "cli/cli_capture.h"
#include "cli/cli_common.h"
#include "cli/cli_controller.h"
#include "cli/cli_history.h"
#include "cli/cli_params.h"
#include "cli/commands.h"

#include "core/string_table.h"
#include "history/history_table.h"
#include "link/exchange_cycle.h"
#include "link/device_link.h"
#include "link/received_folder_store.h"
#include "link/transport.h"
#include "params/command_files.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace dm::cli {
namespace {

constexpr int kDefaultParamsTimeout = 14;
constexpr int kDefaultArchiveTimeout = 44;
constexpr long long kMaxTimeout = 24 * 60 * 60;

// The device link reports from its discovery thread too; the main loop looks at what
// was said between its waits.
class CollectedMessages : public MessageSink {
public:
    void showMessage(const std::string& text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(text);
    }
    std::vector<std::string> all() {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> messages_;
};

// Hands the wanted reply to a durable keeper before its file may go; false: it could not
// be kept, and the file stays.
using KeepReply = std::function<bool(const std::string& reply)>;

// The device link as the cycle sees it: each command's push runs on the link's push
// thread and ends by the command's deadline.
class DeadlineLink : public ExchangeLinkAdapter<DeviceLink> {
public:
    DeadlineLink(DeviceLink& link, std::chrono::steady_clock::time_point deadline, WantedReply wanted,
                 KeepReply keep)
        : ExchangeLinkAdapter(link), link_(link), deadline_(deadline), wanted_(wanted), keep_(std::move(keep)) {}
    void sendCommandFiles(const std::vector<std::string>& files) override { link_.sendCommandFiles(files, deadline_); }
    TakenReplies pollReplyFiles() override { return last_ = link_.pollReplyFiles(); }
    TakenReplies pollFinishedReplyFiles() override { return last_ = link_.pollFinishedReplyFiles(); }
    // The reading is in the spool, synced, before the pickup deletes its file: a run
    // killed at any moment leaves it in one or the other.
    void repliesDelivered(ReplyKinds replies) override {
        const ReplyKind kind = wanted_ == WantedReply::Parameters ? ReplyKind::Parameters : ReplyKind::Archive;
        bool& handed = kind == ReplyKind::Parameters ? replies.parameters : replies.archive;
        if (keep_ && handed && last_.of(kind) && !keep_(*last_.of(kind)))
            handed = false;
        link_.repliesDelivered(replies);
    }

private:
    DeviceLink& link_;
    TakenReplies last_;
    std::chrono::steady_clock::time_point deadline_;
    WantedReply wanted_;
    KeepReply keep_;
};

// The controller's hand-over into the run's keeper: the reading goes into the spool before
// its reply file may go; `kept` tells the link whether it may.
class KeeperRecorder : public ReadingRecorder {
public:
    KeeperRecorder(ReadingKeeper& keeper, std::string serial) : keeper_(keeper), serial_(std::move(serial)) {}
    void parametersArrived(const ParameterSet& reading) override { kept = keeper_.keepParameters(reading); }
    void archiveArrived(const DoseArchive& archive, double interval) override {
        // Stored only as the download of a dosimeter named on the command line.
        kept = serial_.empty() || keeper_.keepArchive(archive, interval, serial_);
    }
    void erasePushed() override {}
    void changesSent(const std::vector<SentChange>&) override {}
    void changesSettled(const std::vector<bool>&) override {}
    void dosimeterGone() override {}

    bool kept = false;

private:
    ReadingKeeper& keeper_;
    std::string serial_;
};

// An empty --db would quietly mean the default database: refused, as the records
// commands refuse it.
void RefuseEmptyDb(const std::string& command, const Args& args) {
    for (std::size_t i = 0; i < args.size(); ++i)
        if (args[i] == "--db=" || (args[i] == "--db" && i + 1 < args.size() && args[i + 1].empty()))
            Fail(kExitUsage, command + ": --db is empty; give a database URL, or leave --db out for the default");
}

// A text from the dosimeter on one line, as the status log shows it.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

struct LinkOptions {
    std::string link;
    std::string recvDir;
    std::string timeout;
    std::string capture;
};

void AddLinkOptions(Options& options, LinkOptions& o) {
    options.value("--link", &o.link);
    options.value("--capture", &o.capture);
    options.value("--recv-dir", &o.recvDir);
    options.value("--timeout", &o.timeout);
}

int TimeoutSeconds(const LinkOptions& o, int defaultSeconds) {
    if (o.timeout.empty()) return defaultSeconds;
    const long long t = IntegerOption("--timeout", o.timeout);
    if (t < 1 || t > kMaxTimeout)
        Fail(kExitUsage, "--timeout: expected whole seconds from 1 to " + std::to_string(kMaxTimeout) +
                             ", got '" + o.timeout + "'");
    return static_cast<int>(t);
}

// Pushes the command and runs the cycle until the wanted reply is taken in; the reply
// text, or a failure (exit 1) for a time-out or a message from the dosimeter.
std::string ExchangeOverLink(const std::string& command, const LinkOptions& o, const ExchangeStart& start,
                             WantedReply wanted, int timeoutSeconds, Language language, const KeepReply& keep) {
    std::unique_ptr<ReceivedFolderStore> store;
    if (!o.recvDir.empty()) {
        if (const std::string problem = ReceivedFolderProblem(o.recvDir); !problem.empty())
            Fail(kExitUsage, command + ": --recv-dir " + o.recvDir + ": " + problem);
        store = std::make_unique<FixedFolderStore>(o.recvDir);
    } else {
        store = MakeReceivedFolderStore();
    }
    // A link with a receiver of its own (sir:, usb-irda) writes the replies into the folder.
    std::string error;
    TransportOptions transportOptions;
    transportOptions.capturePath = o.capture;
    transportOptions.receivedFolder = ReadReceivedFilesFolder(*store).value_or("");
    bool nameError = false;
    std::unique_ptr<Transport> transport = MakeTransport(o.link, transportOptions, &error, &nameError);
    if (!transport) Fail(nameError ? kExitUsage : kExitFailed, command + ": --link: " + error);
    // irda may stand for the one adapter found: messages name both.
    const std::string linkName = transport->name() == o.link ? o.link : o.link + " (" + transport->name() + ")";

    CollectedMessages messages;
    DeviceLink link(std::move(transport), *store, messages);
    if (link.receivedFolder().empty())
        Fail(kExitFailed, command + ": the received-files folder is not known (" + std::string(kMsgNoSettings) +
                              "); give one with --recv-dir");
    if (const std::string problem = ReceivedFolderProblem(link.receivedFolder()); !problem.empty())
        Fail(kExitFailed, command + ": " + problem + " Give a folder with --recv-dir.");
    // Replies of the other kind are left in the folder for whoever asked for them.
    link.takeRepliesOnly(wanted == WantedReply::Parameters ? "LP" : "LA");

    // The push needs the dosimeter discovered first; the wait counts towards the time-out.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point begin = Clock::now();
    const Clock::time_point deadline = begin + std::chrono::seconds(timeoutSeconds);
    const std::string interrupted = Tr(IDS_CONNECTION_INTERRUPTED, language);
    // Woken by discovery itself: the moment a dosimeter is found, or discovery fails.
    if (!link.waitForDevice(deadline)) {
        if (const std::string failure = link.discoveryFailure(); !failure.empty())
            Fail(kExitFailed, command + ": " + linkName + ": " + failure);
        Fail(kExitFailed, command + ": " + linkName + ": " + interrupted + " (no dosimeter in range)");
    }
    const auto waited = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - begin).count();
    const int ticks = std::max(1, timeoutSeconds - static_cast<int>(waited));

    DeadlineLink exchangeLink(link, deadline, wanted, keep);
    // Ticks keep to a one-second beat from before the push, so a slow push counts too.
    // Between them the run wakes whenever the received-files folder changes, so a reply
    // is taken in as soon as its file is closed.
    Clock::time_point nextTick = Clock::now() + std::chrono::seconds(1);
    const ExchangeRunResult run = RunExchangeToReply(
        exchangeLink, start, wanted, ticks,
        [&] {
            std::this_thread::sleep_until(nextTick);
            nextTick += std::chrono::seconds(1);
        },
        [&] { return link.waitForReplyFiles(nextTick); });

    switch (run.outcome) {
    case ExchangeRunResult::Outcome::Reply:
        return run.text;
    case ExchangeRunResult::Outcome::DosimeterMessage:
        Fail(kExitFailed, command + ": the dosimeter answered: " + OneLine(run.text));
    case ExchangeRunResult::Outcome::PushFailed:
        Fail(kExitFailed, command + ": the push failed: " + run.text);
    case ExchangeRunResult::Outcome::LinkFailed:
        Fail(kExitFailed, command + ": " + run.text);
    case ExchangeRunResult::Outcome::TimedOut:
        break;
    }
    // Say what may have kept the reply away: what the link reported (a reply file too
    // large to take in, say).
    std::string why;
    if (const std::vector<std::string> said = messages.all(); !said.empty())
        why = " (" + said.back() + ")";
    Fail(kExitFailed, command + ": " + linkName + ": " + interrupted + why);
}

const char* kReadParamsUsage =
    "usage: dosimeter-cli read-params --link LINK [--recv-dir DIR] [--timeout S] [--access MASK]\n"
    "                                 [--catalogue F] [--lang en|ru] [--json] [--db URL]\n"
    "                                 [--capture PCAP]\n"
    "The \"Get parameters\" exchange: pushes the command file over LINK (irda,\n"
    "tcp:HOST:PORT, sir:PATH[?dongle=NAME&speed=BAUD] or usb-irda[:BUS-ADDRESS];\n"
    "'dosimeter-cli adapters' lists the adapters), polls the received-files folder\n"
    "once a second until a parameter reply comes, and prints the table as 'params'\n"
    "does.\n"
    "  --recv-dir DIR  the received-files folder (default: the infrared file-transfer\n"
    "                  settings); files already there are never taken as replies\n"
    "  --capture PCAP  every IrDA frame of a sir: or usb-irda link as pcap\n"
    "  --timeout S     seconds to wait for the reply; default 14\n"
    "  --access MASK   unlocked protected-parameter groups; default 0\n"
    "  --catalogue F   the parameter catalogue; default Commands.lst\n"
    "  --lang en|ru    language of the table and messages; default en\n"
    "  --json          print the table as one JSON object\n"
    "  --db URL        the records database the readout is stored in, as for 'records'\n"
    "                  (default $DOSIMETER_RECORDS, else the user's records.sqlite)\n"
    "The reply is stored as a readout after it is printed; it goes into the station's\n"
    "spool before its file is deleted, and a failure to store it is one line on stderr\n"
    "and exit 1 with the reading waiting in the spool ('records spool').\n"
    "No reply in time: \"Connection interrupted.\", exit 1. A result reply without\n"
    "\"accepted\" is printed and ends the command with exit 1.\n";

const char* kReadArchiveUsage =
    "usage: dosimeter-cli read-archive --link LINK [--recv-dir DIR] [--timeout S] [--interval S]\n"
    "                                  [--lang en|ru] [--json] [--serial S [--db URL]]\n"
    "                                  [--capture PCAP]\n"
    "The \"Get dose history\" exchange: pushes the command file over LINK (irda,\n"
    "tcp:HOST:PORT, sir:PATH[?dongle=NAME&speed=BAUD] or usb-irda[:BUS-ADDRESS]),\n"
    "polls the received-files folder once a second until an archive reply comes, and\n"
    "prints the tables as 'archive' does.\n"
    "  --recv-dir DIR  the received-files folder (default: the infrared file-transfer\n"
    "                  settings); files already there are never taken as replies\n"
    "  --capture PCAP  every IrDA frame of a sir: or usb-irda link as pcap\n"
    "  --timeout S     seconds to wait for the reply; default 44\n"
    "  --interval S    seconds between two gamma records (\"history_time\"); default 1\n"
    "  --lang en|ru    language of the headings, units and messages; default en\n"
    "  --json          print the tables as one JSON object\n"
    "  --serial S      store the dose history, after printing it, as a download of\n"
    "                  dosimeter S (the serial_number of its parameters); without it\n"
    "                  nothing is stored. A failure to store is one stderr line, exit 1.\n"
    "  --db URL        the records database, as for 'records' (default\n"
    "                  $DOSIMETER_RECORDS, else the user's records.sqlite)\n"
    "No reply in time: \"Connection interrupted.\", exit 1. A result reply without\n"
    "\"accepted\" is printed and ends the command with exit 1.\n";

} // namespace

int RunReadParams(const Args& args) {
    Options options("read-params", kReadParamsUsage);
    LinkOptions link;
    AddLinkOptions(options, link);
    std::string accessText, catalogueFile, lang, dbUrl;
    bool json = false;
    options.value("--db", &dbUrl);
    options.value("--access", &accessText);
    options.value("--catalogue", &catalogueFile);
    options.value("--lang", &lang);
    options.flag("--json", &json);
    if (!options.parse(args, nullptr)) // a positional argument is a usage error
        return kExitOk;
    if (link.link.empty()) options.usageError("--link is required");
    RefuseEmptyDb("read-params", args);
    const Language language = LanguageFromOption(lang);
    const int access = AccessMaskOption(accessText);
    const int timeout = TimeoutSeconds(link, kDefaultParamsTimeout);
    // The catalogue is checked before anything goes out to the dosimeter.
    std::string catalogueName;
    const std::string catalogue = LoadCatalogueOption(catalogueFile, language, &catalogueName);

    ReadingKeeper keeper("read-params", dbUrl);
    // The window's rules: the controller reads the reply once and hands it to the keeper.
    CliController controller(language, catalogue, access);
    KeeperRecorder recorder(keeper, {});
    controller->setRecorder(&recorder);
    const std::string reply = ExchangeOverLink("read-params", link, ComposeGetParameters(access),
                                               WantedReply::Parameters, timeout, language,
                                               [&](const std::string& text) {
                                                   controller->takeParameterReply(text);
                                                   return recorder.kept;
                                               });
    WriteStdout(ParameterTableOutput(controller->parameters(), reply.empty(), catalogue, language, access, json,
                                     catalogueName));
    return keeper.store();
}

int RunReadArchive(const Args& args) {
    Options options("read-archive", kReadArchiveUsage);
    LinkOptions link;
    AddLinkOptions(options, link);
    std::string intervalText, lang, serial, dbUrl;
    bool json = false;
    options.value("--serial", &serial);
    options.value("--db", &dbUrl);
    options.value("--interval", &intervalText);
    options.value("--lang", &lang);
    options.flag("--json", &json);
    if (!options.parse(args, nullptr)) // a positional argument is a usage error
        return kExitOk;
    if (link.link.empty()) options.usageError("--link is required");
    RefuseEmptyDb("read-archive", args);
    if (!dbUrl.empty() && serial.empty()) options.usageError("--db stores only with --serial");
    const Language language = LanguageFromOption(lang);
    double interval = 1.0;
    if (!intervalText.empty()) {
        interval = NumberOption("--interval", intervalText);
        if (!std::isfinite(interval))
            Fail(kExitUsage, "--interval: expected a finite number of seconds, got '" + intervalText + "'");
    }
    const int timeout = TimeoutSeconds(link, kDefaultArchiveTimeout);

    // Without a parameter table the history depths are unknown; the progress then
    // takes the command's smallest step count, which the tool does not show anyway.
    ExchangeStart start;
    start.started = true;
    start.files = {GetArchiveCommand()};
    start.tickPreset = -30;
    start.progressSteps = 4;
    ReadingKeeper keeper("read-archive", dbUrl);
    CliController controller(language, std::string(), 0);
    controller->setHistoryInterval(interval);
    KeeperRecorder recorder(keeper, serial);
    controller->setRecorder(&recorder);
    const std::string reply =
        ExchangeOverLink("read-archive", link, start, WantedReply::Archive, timeout, language,
                         [&](const std::string& text) {
                             if (text.size() > kMaxArchiveTextBytes)
                                 return true; // refused below, before anything is printed
                             controller->takeArchiveReply(text);
                             return recorder.kept;
                         });
    if (reply.size() > kMaxArchiveTextBytes)
        ParseArchiveOrFail(reply, interval, "the archive reply"); // says why, exit 1
    const DoseArchive& archive = controller->archive();
    if (json)
        WriteArchiveTablesJson(archive, language);
    else
        WriteArchiveTablesText(archive, language);
    return serial.empty() ? kExitOk : keeper.store();
}

} // namespace dm::cli
