// The records' privacy from the command line: the roles of a shared database, corrections
// of a readout's dose, and the one warning about a database file others can read.
#include "cli/cli_common.h"
#include "cli/commands.h"

#include "records/capture.h"
#include "records/corrections.h"
#include "records/private_files.h"
#include "records/roles.h"
#include "records/utc_time.h"


#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>

namespace dm::cli {
namespace {

using records::RecordsError;
using records::RecordsRepository;

const char* kUsage =
    "usage: dosimeter-cli records [--db URL] COMMAND [OPTIONS...]\n"
    "Privacy and corrections:\n"
    "  setup-roles [--apply]       print the SQL of the roles of a shared PostgreSQL\n"
    "                              database (dosimeter_station, dosimeter_admin,\n"
    "                              dosimeter_reader); --apply, run by the database's owner,\n"
    "                              creates or upgrades the schema and grants the roles their\n"
    "                              rights (making the roles too when the login may); safe\n"
    "                              to run again, and to be run after each upgrade\n"
    "  correct --readout ID --total-dose SV --reason TEXT\n"
    "                              add a correction of a readout's total dose (a row of its\n"
    "                              own; the readout is kept as read); on PostgreSQL the login\n"
    "                              needs the dosimeter_admin role\n"
    "A password is best kept out of the URL: libpq reads it from ~/.pgpass (or $PGPASSFILE)\n"
    "or $PGPASSWORD when the URL has none.\n";

records::DatabaseUrl PostgresUrl(const std::string& command, const std::string& dbUrl) {
    std::string error;
    const auto url = records::ParseDatabaseUrl(records::ChooseDatabaseUrlText(dbUrl), &error);
    if (!url)
        Fail(kExitUsage, "records " + command + ": " + error);
    if (url->kind != records::DatabaseUrl::Kind::Postgres)
        Fail(kExitUsage, "records " + command + ": roles belong to a shared PostgreSQL database; " +
                             url->displayName() + " is an SQLite file, kept private by its file mode");
    return *url;
}

int SetupRoles(const std::string& dbUrlIn, const Args& args) {
    std::string dbUrl = dbUrlIn;
    bool apply = false;
    Options options("records setup-roles", kUsage);
    options.value("--db", &dbUrl);
    options.flag("--apply", &apply);
    if (!options.parse(args, nullptr)) // a positional argument is a usage error
        return kExitOk;
    const records::DatabaseUrl url = PostgresUrl("setup-roles", dbUrl);
    if (!apply) {
        std::string out = "-- The roles of the dose records database " + url.displayName() +
                          ".\n-- 1. As a PostgreSQL superuser or role administrator (CREATEROLE), once per"
                          " server:\n";
        for (const std::string& sql : records::RoleCreationStatements())
            out += sql + ";\n";
        out += "-- 2. As the database's owner, after the schema exists (setup-roles --apply does both);"
               " safe to run again:\nBEGIN;\n";
        for (const std::string& sql : records::RoleStatements(url.databaseName))
            out += sql + ";\n";
        WriteStdout(out + "COMMIT;\n");
        return kExitOk;
    }
    std::unique_ptr<RecordsRepository> repo = OpenRecords("setup-roles", dbUrl);
    try {
        records::ApplyRoles(*repo);
    } catch (const RecordsError& e) {
        // A login that is not the owner: permission denied on a table, said as it is.
        Fail(kExitFailed, std::string("records setup-roles: ") + e.what());
    }
    WriteStdout("roles dosimeter_station, dosimeter_admin, dosimeter_reader set up in " + repo->displayName() +
                "\n");
    return kExitOk;
}

int Correct(const std::string& dbUrlIn, const Args& args) {
    std::string dbUrl = dbUrlIn, readoutText, doseText, reason;
    Options options("records correct", kUsage);
    options.value("--db", &dbUrl);
    options.value("--readout", &readoutText);
    options.value("--total-dose", &doseText);
    options.value("--reason", &reason);
    if (!options.parse(args, nullptr)) // a positional argument is a usage error
        return kExitOk;
    std::int64_t readout = 0;
    const auto parsed = std::from_chars(readoutText.data(), readoutText.data() + readoutText.size(), readout);
    if (readoutText.empty() || parsed.ec != std::errc() || parsed.ptr != readoutText.data() + readoutText.size() ||
        readout <= 0)
        options.usageError("--readout: expected a readout ID (a positive whole number), got '" + readoutText + "'");
    if (doseText.empty())
        options.usageError("--total-dose is required (Sv)");
    const double dose = NumberOption("--total-dose", doseText);
    if (!std::isfinite(dose) || dose < 0)
        options.usageError("--total-dose: expected a dose in Sv, 0 or more, got '" + doseText + "'");
    if (reason.find_first_not_of(" \t\r\n") == std::string::npos)
        options.usageError("--reason is required: say why the dose is corrected");

    std::unique_ptr<RecordsRepository> repo = OpenRecords("correct", dbUrl);
    records::CorrectionInput c;
    c.readoutId = readout;
    c.totalDose = dose;
    c.reason = reason;
    c.by = records::LocalOrigin().operatorName;
    c.at = static_cast<records::UtcSeconds>(std::time(nullptr));
    std::int64_t id = 0;
    try {
        id = records::CorrectReadout(*repo, c);
    } catch (const RecordsError& e) {
        Fail(e.kind() == RecordsError::Kind::Refused ? kExitUsage : kExitFailed,
             std::string("records correct: ") + e.what());
    }
    WriteStdout("correction " + std::to_string(id) + " of readout " + std::to_string(readout) + "\n");
    return kExitOk;
}

} // namespace

void WarnIfRecordsExposed(const RecordsRepository& repo) {
    // Folders and files others may write, or another user's, are refused when opened;
    // one others may only read is worth a warning.
    // One line per run: the CLI opens one database per command.
    if (const auto warning = records::DatabaseReadableByOthers(repo.url()))
        std::fprintf(stderr, "dosimeter-cli: warning: %s\n", warning->c_str());
}

void NotePasswordInUrl(const std::string& dbUrl) {
    if (dbUrl.empty())
        return; // $DOSIMETER_RECORDS or the default: not on the command line
    std::string error;
    if (const auto url = records::ParseDatabaseUrl(dbUrl, &error); url && !url->password.empty())
        std::fprintf(stderr, "dosimeter-cli: note: the password in --db can be seen by every user of this computer"
                             " (ps); keep it in ~/.pgpass (mode 0600) and leave it out of the URL\n");
}

std::unique_ptr<RecordsRepository> OpenRecords(const std::string& command, const std::string& dbUrl, bool forReading) {
    records::EnsureQtCoreApplication("dosimeter-cli");
    std::unique_ptr<RecordsRepository> repo;
    try {
        repo = RecordsRepository::open(records::ChooseDatabaseUrlText(dbUrl),
                                       forReading ? RecordsRepository::Access::ForReading
                                                  : RecordsRepository::Access::ForWriting);
    } catch (const RecordsError& e) {
        Fail(kExitFailed, "records " + command + ": " + e.what());
    }
    // After the open: a failure stays the one line it is.
    NotePasswordInUrl(dbUrl);
    WarnIfRecordsExposed(*repo);
    return repo;
}

int RunRecordsAdminCommand(const std::string& command, const std::string& dbUrl, const Args& args) {
    if (command == "setup-roles")
        return SetupRoles(dbUrl, args);
    if (command == "correct")
        return Correct(dbUrl, args);
    return -1;
}

} // namespace dm::cli
