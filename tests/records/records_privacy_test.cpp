// Dose records are personal data: who may change them on a shared database, corrections
// that keep what was read, and a password or an exposed file never passing unnoticed.
#include "records_backends.h"
#include "../shell_run.h"

#include <QSqlError>

#include <algorithm>
#include <cstdio>

#include <sys/stat.h>

namespace {

using dm::records::DatabaseUrl;
using dm::records::test::PgAdmin;
using dm::records::test::ScratchDatabase;
using dm::records::test::UrlText;

const std::string kData = DM_TEST_DATA;
const std::string kCli = std::string(DM_BIN_DIR) + "/dosimeter-cli";

struct CliResult : ShellRun {
    std::string err;
};

CliResult Cli(const std::string& args) {
    const std::string errFile = ::testing::TempDir() + "dm-privacy-stderr-" + std::to_string(::getpid());
    CliResult run{RunShell(kCli + " " + args + " 2>" + errFile), {}};
    std::ifstream in(errFile);
    run.err.assign(std::istreambuf_iterator<char>(in), {});
    std::filesystem::remove(errFile);
    return run;
}

std::size_t Lines(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

// Runs one statement as `login`; false with the server's error when refused.
bool ExecAs(const DatabaseUrl& url, const std::string& login, const std::string& sql, std::string* error) {
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("privacy-test"));
        db.setHostName(QString::fromStdString(url.socketDir.empty() ? url.host : url.socketDir));
        db.setPort(url.port);
        db.setDatabaseName(QString::fromStdString(url.databaseName));
        db.setUserName(QString::fromStdString(login));
        if (db.open()) {
            QSqlQuery q(db);
            ok = q.exec(QString::fromStdString(sql));
            *error = q.lastError().text().toStdString();
        } else {
            *error = db.lastError().text().toStdString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("privacy-test"));
    return ok;
}

TEST(RecordsPrivacy, RolesLetOnlyTheAdministratorChangeWhatStationsStoreAndCorrectionsReachTheDose) {
    ScratchDatabase scratch("postgresql");
    DM_REQUIRE_BACKEND(scratch);
    const std::string owner = "records --db '" + scratch.urlText() + "' ";
    const std::string reply = kData + "/params-krt17a.txt";
    ASSERT_EQ(Cli(owner + "import-params " + reply + " --at 2026-05-01T09:00:00Z").exitCode, 0);

    // Printed, the statements name the database without a password; applied twice, the same.
    const CliResult printed = Cli(owner + "setup-roles");
    ASSERT_EQ(printed.exitCode, 0) << printed.err;
    EXPECT_NE(printed.out.find("CREATE ROLE dosimeter_admin"), std::string::npos);
    ASSERT_EQ(Cli(owner + "setup-roles --apply").exitCode, 0);
    const CliResult again = Cli(owner + "setup-roles --apply");
    ASSERT_EQ(again.exitCode, 0) << again.err;

    const std::string tag = std::to_string(::getpid());
    const std::string station = "station_" + tag, admin = "admin_" + tag;
    DatabaseUrl base = scratch.url();
    base.databaseName = "postgres";
    ASSERT_TRUE(PgAdmin(base, "CREATE ROLE " + station + " LOGIN IN ROLE dosimeter_station"));
    ASSERT_TRUE(PgAdmin(base, "CREATE ROLE " + admin + " LOGIN IN ROLE dosimeter_admin"));
    DatabaseUrl asStation = scratch.url(), asAdmin = scratch.url();
    asStation.user = station;
    asAdmin.user = admin;
    const std::string st = "records --db '" + UrlText(asStation) + "' ";
    const std::string ad = "records --db '" + UrlText(asAdmin) + "' ";

    // A station stores and reads what it reads.
    const CliResult stored = Cli(st + "import-params " + reply + " --at 2026-05-03T09:00:00Z --json");
    ASSERT_EQ(stored.exitCode, 0) << stored.err;
    const std::string second = stored.out.substr(12, stored.out.find(',') - 12);
    const std::string readoutsBefore = Cli(st + "readouts --serial 170123 --json").out;
    ASSERT_NE(readoutsBefore.find("\"increment\": 0, \"flags\": []"), std::string::npos) << readoutsBefore;

    // ...and nothing else: each refusal one line, exit 1, nothing changed.
    for (const std::string& args :
         {"correct --readout " + second + " --total-dose 250 --reason 'misread'",
          std::string("wearer-add --id W-01 --name 'Petrova, Olga'"), std::string("limits --annual 0.03"),
          std::string("site --name 'Station site'")}) {
        const CliResult refused = Cli(st + args);
        EXPECT_EQ(refused.exitCode, 1) << args << ": " << refused.err;
        EXPECT_EQ(Lines(refused.err), 1u) << refused.err;
        EXPECT_EQ(refused.out, "") << args;
        EXPECT_NE(refused.err.find("permission denied"), std::string::npos) << refused.err;
    }
    std::string error;
    EXPECT_FALSE(ExecAs(scratch.url(), station, "DELETE FROM readouts", &error));
    EXPECT_NE(error.find("permission denied"), std::string::npos) << error;
    EXPECT_FALSE(ExecAs(scratch.url(), station, "UPDATE readouts SET total_dose = 0", &error));
    EXPECT_FALSE(ExecAs(scratch.url(), station, "DELETE FROM readout_corrections", &error));
    EXPECT_FALSE(ExecAs(scratch.url(), admin, "UPDATE readouts SET total_dose = 0", &error));
    EXPECT_FALSE(ExecAs(scratch.url(), admin, "DELETE FROM readout_corrections", &error));
    EXPECT_EQ(Cli(st + "readouts --serial 170123 --json").out, readoutsBefore);
    EXPECT_NE(Cli(st + "limits --json").out.find("\"annual\": 0.02,"), std::string::npos);
    EXPECT_EQ(Cli(st + "wearers --json").out, "[]\n");

    // The administrator manages wearers and limits and corrects; the readout stays as read.
    ASSERT_EQ(Cli(ad + "wearer-add --id W-01 --name 'Petrova, Olga'").exitCode, 0);
    const std::string handOut = "assign --serial 170123 --wearer W-01 --from 2026-04-30T00:00:00Z";
    EXPECT_EQ(Cli(st + handOut).exitCode, 1);
    ASSERT_EQ(Cli(ad + handOut).exitCode, 0);
    ASSERT_EQ(Cli(ad + "limits --annual 0.03").exitCode, 0);
    ASSERT_EQ(Cli(ad + "site --name 'North site'").exitCode, 0);
    EXPECT_EQ(Cli(st + "site").out, "North site\n");
    const std::string doseArgs = "dose --wearer W-01 --from 2026-01-01T00:00:00Z --to 2027-01-01T00:00:00Z --json";
    EXPECT_NE(Cli(st + doseArgs).out.find("\"dose\": 0,"), std::string::npos);
    const CliResult corrected = Cli(ad + "correct --readout " + second + " --total-dose 250 --reason 'misread at the station'");
    ASSERT_EQ(corrected.exitCode, 0) << corrected.err;
    const CliResult dose = Cli(st + doseArgs);
    EXPECT_NE(dose.out.find("\"dose\": 50,"), std::string::npos) << dose.out;
    EXPECT_NE(Cli(st + "readouts --serial 170123 --json").out.find("\"total_dose\": 250, \"increment\": 50"),
              std::string::npos);
    std::string original;
    ASSERT_TRUE(ExecAs(scratch.url(), station, "SELECT 1 FROM readouts WHERE total_dose = 200 AND id = " + second,
                       &original));
    const CliResult history = Cli(st + "history --serial 170123 --json");
    EXPECT_NE(history.out.find("\"station\": null, \"operator\": \"" + admin +
                               "\", \"action\": \"correct\", \"changes\": [{\"key\": \"total_val\", \"before\": "
                               "\"200\", \"after\": \"250\", \"taken\": true}], \"readout\": " +
                               second + ", \"reason\": \"misread at the station\"}"),
              std::string::npos)
        << history.out;

    // A correction of a readout that does not exist changes nothing.
    EXPECT_EQ(Cli(ad + "correct --readout 999999 --total-dose 1 --reason x").exitCode, 2);

    PgAdmin(base, "DROP DATABASE IF EXISTS " + scratch.url().databaseName + " WITH (FORCE)");
    EXPECT_TRUE(PgAdmin(base, "DROP ROLE " + station));
    EXPECT_TRUE(PgAdmin(base, "DROP ROLE " + admin));
}

TEST(RecordsPrivacy, AFileOthersCanReadIsReportedOnceAndPasswordsShowNowhere) {
    ScratchDatabase scratch("sqlite");
    const std::string db = "records --db '" + scratch.urlText() + "' ";
    const std::string reply = kData + "/params-krt17a.txt";
    const CliResult first = Cli(db + "import-params " + reply + " --at 2026-05-01T09:00:00Z");
    ASSERT_EQ(first.exitCode, 0);
    EXPECT_EQ(first.err, "");
    ASSERT_EQ(::chmod(scratch.url().path.c_str(), 0644), 0);
    const CliResult exposed = Cli(db + "dosimeters --json");
    EXPECT_EQ(exposed.exitCode, 0);
    EXPECT_NE(exposed.out.find("170123"), std::string::npos);
    EXPECT_EQ(Lines(exposed.err), 1u) << exposed.err;
    EXPECT_NE(exposed.err.find("can be read by other users"), std::string::npos) << exposed.err;
    EXPECT_EQ(Cli(db + "setup-roles").exitCode, 2);

    // On SQLite a correction is open to whoever may write the file; the history tells.
    ASSERT_EQ(Cli(db + "correct --readout 1 --total-dose 0.5 --reason ' '").exitCode, 2);
    ASSERT_EQ(Cli(db + "correct --readout 1 --total-dose 0.5 --reason 'typed wrong'").exitCode, 0);
    EXPECT_NE(Cli(db + "history --serial 170123").out.find("correct\ttotal_val: 200 -> 0.5 (readout 1: typed wrong)"),
              std::string::npos);

    const std::string secret = "s3cr3t-pw";
    ::setenv("DOSIMETER_RECORDS", ("postgresql://site:" + secret + "@127.0.0.1:1/dose").c_str(), 1);
    for (const std::string& args :
         {std::string("records --help"), std::string("records correct --help"), std::string("records setup-roles"),
          std::string("records setup-roles --apply"), std::string("records correct --readout 1 --total-dose 1 --reason x"),
          std::string("records --db 'postgresql://site:" + secret + "@/dose?host=/nonexistent' setup-roles --apply")}) {
        const CliResult run = Cli(args);
        EXPECT_EQ((run.out + run.err).find(secret), std::string::npos) << args << ": " << run.out << run.err;
    }
    ::unsetenv("DOSIMETER_RECORDS");
}

} // namespace
