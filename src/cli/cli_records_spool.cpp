// The station's spool from the command line: what waits there for a database that did
// not take it, and why (`records spool`), a try now (`--retry`), and how read-params and
// read-archive put their reading there before the reply file goes.
#include "cli/cli_capture.h"
#include "cli/cli_common.h"
#include "cli/commands.h"

#include "params/parameter_set.h"
#include "records/capture.h"
#include "records/records_repository.h"
#include "records/utc_time.h"

#include <QDateTime>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>

namespace dm::cli {
namespace {

using records::RecordEntry;
using records::RecordsError;
using records::RecordSpool;
using records::RecordsRepository;

records::UtcSeconds Now() { return QDateTime::currentSecsSinceEpoch(); }

// Writes one record, opening the database on first use; a history belongs to a
// dosimeter whose parameters are in the database (as for import-archive).
class EntryWriter {
public:
    // dbUrl: --db as given (a password in it is noted once the database is open).
    explicit EntryWriter(const std::string& dbUrl) : dbUrl_(dbUrl), urlText_(records::ChooseDatabaseUrlText(dbUrl)) {}
    bool operator()(const RecordEntry& entry) {
        try {
            if (!repo_) {
                repo_ = RecordsRepository::open(urlText_);
                if (!noted_)
                    NotePasswordInUrl(dbUrl_);
                noted_ = true;
            }
            if (const auto* d = std::get_if<records::HistoryDownloadInput>(&entry); d && !repo_->knowsSerial(d->serial))
                throw RecordsError(RecordsError::Kind::UnknownSerial, repo_->displayName() + " has no dosimeter " +
                                                                          d->serial + " (read its parameters first)");
            return records::StoreEntry(*repo_, entry);
        } catch (const RecordsError& e) {
            if (e.kind() != RecordsError::Kind::UnknownSerial)
                repo_.reset(); // a new connection at the next record
            throw;
        }
    }

private:
    std::string dbUrl_, urlText_;
    std::unique_ptr<RecordsRepository> repo_;
    bool noted_ = false;
};

const char* kSpoolUsage =
    "usage: dosimeter-cli records [--db URL] spool [--spool FILE] [--retry] [--json]\n"
    "Lists the records waiting in this station's spool, oldest first: readouts, dose\n"
    "histories, erases and changes sent that the window, read-params or read-archive could\n"
    "not store in their database yet, with the database each waits for, how often it was\n"
    "tried, the last failure and the next try. Nothing is ever dropped from the spool.\n"
    "  --spool FILE  the spool (default: records-spool.sqlite beside the default database)\n"
    "  --retry       first sends the records waiting for the database in force (--db, else\n"
    "                $DOSIMETER_RECORDS, else the default) now, whatever their pause; exit 1,\n"
    "                with one line on stderr, when any of them still waits\n"
    "  --json        [{\"entry\", \"database\", \"kind\", \"serial\", \"at\", \"spooled_at\",\n"
    "                \"attempts\", \"error\", \"next_try\"}]\n";

std::string Kind(const std::optional<RecordEntry>& entry) {
    if (!entry)
        return "unreadable";
    static const char* const kinds[] = {"readout", "download", "erase", "changes"};
    return kinds[entry->index()];
}

std::string Serial(const std::optional<RecordEntry>& entry) {
    if (!entry)
        return {};
    return std::visit([](const auto& e) { return e.serial; }, *entry);
}

std::optional<records::UtcSeconds> At(const std::optional<RecordEntry>& entry) {
    if (!entry)
        return std::nullopt;
    return std::visit([](const auto& e) { return e.at; }, *entry);
}

std::string TimeText(const std::optional<records::UtcSeconds>& t) {
    return t && *t > 0 ? records::FormatUtcTime(*t) : std::string();
}

std::string JsonTime(const std::optional<records::UtcSeconds>& t) {
    const std::string text = TimeText(t);
    return text.empty() ? "null" : JsonString(text);
}

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n' || c == '\t')
            c = ' ';
    return text;
}

int Spool(const std::string& dbUrlIn, const Args& args) {
    std::string dbUrl = dbUrlIn, spoolOption;
    bool retry = false, json = false;
    Options options("records spool", kSpoolUsage);
    options.value("--db", &dbUrl);
    options.value("--spool", &spoolOption);
    options.flag("--retry", &retry);
    options.flag("--json", &json);
    if (!options.parse(args, nullptr)) // a positional argument is a usage error
        return kExitOk;
    records::EnsureQtCoreApplication("dosimeter-cli");
    const std::string urlText = records::ChooseDatabaseUrlText(dbUrl);
    std::string urlError;
    if (retry && !records::ParseDatabaseUrl(urlText, &urlError))
        Fail(kExitUsage, "records spool: " + urlError);
    const std::filesystem::path file = spoolOption.empty() ? records::DefaultSpoolFile()
                                                           : std::filesystem::path(spoolOption);

    // A spool that was never made holds nothing; looking at it makes nothing.
    std::error_code ec;
    std::unique_ptr<RecordSpool> spool;
    if (std::filesystem::exists(file, ec)) {
        try {
            spool = std::make_unique<RecordSpool>(file);
        } catch (const RecordsError& e) {
            Fail(kExitFailed, "records spool: " + std::string(e.what()));
        }
    }

    const std::string key = records::SpoolDatabaseKey(urlText);
    std::int64_t stillWaiting = 0;
    std::string why;
    std::vector<records::SpoolRow> rows;
    try {
        if (spool && retry) {
            EntryWriter write(dbUrl);
            const records::SpoolPass pass = records::SendSpooled(*spool, key, true, true, Now(), std::ref(write));
            stillWaiting = spool->count(key);
            why = pass.error;
        }
        if (spool)
            rows = spool->all();
    } catch (const RecordsError& e) {
        Fail(kExitFailed, "records spool: " + file.string() + ": " + e.what());
    }

    std::string out;
    if (json) {
        out = "[";
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const records::SpoolRow& r = rows[i];
            out += std::string(i ? ",\n " : "\n ") + "{\"entry\": " + std::to_string(r.row) +
                   ", \"database\": " + (r.database.empty() ? "null" : JsonString(r.database)) +
                   ", \"kind\": " + JsonString(Kind(r.entry)) + ", \"serial\": " +
                   (r.entry ? JsonString(Serial(r.entry)) : "null") + ", \"at\": " + JsonTime(At(r.entry)) +
                   ", \"spooled_at\": " + JsonTime(r.spooledAt) + ", \"attempts\": " + std::to_string(r.attempts) +
                   ", \"error\": " + (r.lastError.empty() ? "null" : JsonString(r.lastError)) +
                   ", \"next_try\": " + JsonTime(r.nextTry) + "}";
        }
        out += rows.empty() ? "]\n" : "\n]\n";
    } else {
        out = "entry\tdatabase\tkind\tserial\tat\tspooled at\tattempts\tnext try\terror\n";
        for (const records::SpoolRow& r : rows) {
            const auto dash = [](const std::string& s) { return s.empty() ? std::string("-") : s; };
            out += std::to_string(r.row) + "\t" + dash(r.database) + "\t" + Kind(r.entry) + "\t" +
                   dash(Serial(r.entry)) + "\t" + dash(TimeText(At(r.entry))) + "\t" + dash(TimeText(r.spooledAt)) +
                   "\t" + std::to_string(r.attempts) + "\t" + dash(TimeText(r.nextTry)) + "\t" +
                   dash(OneLine(r.lastError)) + "\n";
        }
    }
    WriteStdout(out);
    if (retry && stillWaiting > 0)
        Fail(kExitFailed, "records spool: " + std::to_string(stillWaiting) + " record" +
                              (stillWaiting == 1 ? "" : "s") + " still wait" + (stillWaiting == 1 ? "s" : "") +
                              " for " + key + (why.empty() ? std::string() : ": " + OneLine(why)));
    return kExitOk;
}

} // namespace

int RunRecordsSpoolCommand(const std::string& command, const std::string& dbUrl, const Args& args) {
    if (command != "spool")
        return -1;
    return Spool(dbUrl, args);
}

// ------------------------------------------------------------------ read-params, read-archive

ReadingKeeper::ReadingKeeper(std::string command, const std::string& dbUrl)
    : command_(std::move(command)), dbUrl_(dbUrl), urlText_(records::ChooseDatabaseUrlText(dbUrl)) {}

ReadingKeeper::~ReadingKeeper() = default;

bool ReadingKeeper::keepParameters(const ParameterSet& reading) {
    records::EnsureQtCoreApplication("dosimeter-cli");
    if (!capture_)
        capture_ = std::make_unique<records::ReadingCapture>(records::LocalOrigin(), Now);
    return keep(capture_->parameters(reading));
}

bool ReadingKeeper::keepArchive(const DoseArchive& archive, double interval, const std::string& serial) {
    records::EnsureQtCoreApplication("dosimeter-cli");
    if (!capture_)
        capture_ = std::make_unique<records::ReadingCapture>(records::LocalOrigin(), Now);
    return keep(capture_->archive(archive, interval, serial));
}

bool ReadingKeeper::keep(records::Captured captured) {
    if (captured.entries.empty()) {
        problem_ = captured.note == IDS_REC_UNKNOWN_HISTORY ? "no dosimeter to record it for"
                                                            : "the reply has no serial_number";
        return true; // nothing in it could be recorded
    }
    reading_ = std::move(captured.entries.back());
    try {
        spool_ = std::make_unique<RecordSpool>(records::DefaultSpoolFile());
        row_ = spool_->append(*reading_, records::SpoolDatabaseKey(urlText_), Now());
        return true;
    } catch (const RecordsError& e) {
        spool_.reset();
        problem_ = e.what();
        return false;
    }
}

int ReadingKeeper::store() {
    if (!reading_) {
        std::fprintf(stderr, "dosimeter-cli: %s: not recorded: %s\n", command_.c_str(), problem_.c_str());
        return kExitFailed;
    }
    QuietSqlDriverWarnings();
    EntryWriter write(dbUrl_);
    std::string error;
    bool stored = false;
    if (spool_ && row_) {
        // What else waits for the same database goes with it, oldest first.
        const std::string key = records::SpoolDatabaseKey(urlText_);
        try {
            const records::SpoolPass pass = records::SendSpooled(*spool_, key, false, true, Now(), std::ref(write));
            stored = true;
            for (const records::SpoolRow& r : spool_->waitingFor(key))
                if (r.row == *row_) {
                    stored = false;
                    error = r.lastError.empty() ? pass.error : r.lastError;
                }
        } catch (const RecordsError& e) {
            error = e.what();
        }
    } else {
        try {
            write(*reading_);
            stored = true;
        } catch (const RecordsError& e) {
            error = e.what();
        }
    }
    if (stored)
        return kExitOk;
    if (error.empty())
        error = "the database was out of reach for an earlier record";
    if (row_)
        std::fprintf(stderr,
                     "dosimeter-cli: %s: not recorded yet: %s; kept in the spool %s ('dosimeter-cli records spool')\n",
                     command_.c_str(), OneLine(error).c_str(), records::DefaultSpoolFile().string().c_str());
    else
        std::fprintf(stderr,
                     "dosimeter-cli: %s: not recorded: %s; the spool could not take it either (%s), so the reply "
                     "file is left in the received-files folder\n",
                     command_.c_str(), OneLine(error).c_str(), problem_.c_str());
    return kExitFailed;
}

} // namespace dm::cli
