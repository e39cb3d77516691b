// The dose of record attacked as a hostile or careless user would, through the CLI on
// SQLite and PostgreSQL: totals that are no dose, cells a spreadsheet runs, answers that
// must say what is stored, readouts taken in one second, and imports of many replies.
#include "records_backends.h"
#include "../shell_run.h"

#include "core/text_file.h"
#include "records/schema.h"
#include "records/station_recorder.h"

#include <QSqlDatabase>
#include <QSqlQuery>

namespace dm::records {
namespace {

namespace fs = std::filesystem;
using test::ScratchDatabase;

const std::string kCli = std::string(DM_BIN_DIR) + "/dosimeter-cli";

struct CliRun : ShellRun {
    std::string err;
};

CliRun Cli(const std::string& args, const std::string& prefix = {}) {
    const std::string errFile = ::testing::TempDir() + "dm-accounting-stderr-" + std::to_string(::getpid());
    CliRun run{RunShell(prefix + kCli + " " + args + " 2>" + errFile), {}};
    run.err = TryReadFile(errFile).value_or("");
    fs::remove(errFile);
    return run;
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}
std::size_t Lines(const std::string& text) { return Count(text, "\n"); }
bool Has(const std::string& text, const std::string& part) { return Count(text, part) > 0; }

class RecordsAccounting : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        work_ = fs::temp_directory_path() / ("dm-accounting-" + std::to_string(::getpid()));
        fs::remove_all(work_);
        fs::create_directories(work_);
    }
    void TearDown() override { fs::remove_all(work_); }

    // The KRT-17A reply of the test data with its serial and total replaced.
    std::string reply(const std::string& name, const std::string& total, const std::string& serial = "170123") {
        std::string text = *TryReadFile(DM_TEST_DATA "/params-krt17a.txt");
        text.replace(text.find("170123"), 6, serial);
        const std::size_t at = text.find("total_val = ") + 12;
        text.replace(at, text.find('\r', at) - at, total);
        const fs::path file = work_ / name;
        EXPECT_TRUE(WriteFileAtomically(file, text));
        return file.string();
    }
    std::string db() const { return "records --db '" + db_.urlText() + "' "; }
    CliRun records(const std::string& args) { return Cli(db() + args); }
    std::string csv(const std::string& table, const std::string& more = {}) {
        const std::string file = (work_ / (table + ".csv")).string();
        EXPECT_EQ(records("export --table " + table + more + " --csv " + file).exitCode, 0);
        return TryReadFile(file).value_or("");
    }

    ScratchDatabase db_{GetParam()};
    fs::path work_;
};

TEST_P(RecordsAccounting, TotalsThatAreNoDoseCountForNobodyAndChargeNoOneTheLifetimeTotal) {
    DM_REQUIRE_BACKEND(db_);
    // A dosimeter with 200 Sv on its counter: W-1 wears it, a negative total and an
    // unreadable one come in, then W-2 gets it.
    ASSERT_EQ(records("wearer-add --id W-1 --name One").exitCode, 0);
    ASSERT_EQ(records("wearer-add --id W-2 --name Two").exitCode, 0);
    ASSERT_EQ(records("import-params " + reply("a", "2.00001E+02") + " --at 2026-03-01T08:00:00Z").exitCode, 0);
    ASSERT_EQ(records("assign --serial 170123 --wearer W-1 --from 2026-03-01T08:00:00Z").exitCode, 0);
    ASSERT_EQ(records("import-params " + reply("b", "2.00002E+02") + " --at 2026-03-10T08:00:00Z").exitCode, 0);
    for (const auto& [total, at] : {std::pair{"-3.7E-01", "20"}, {"nan", "25"}, {"", "26"}, {"inf", "27"}}) {
        const CliRun stored = records("import-params " + reply(at, total) + " --at 2026-03-" + at + "T08:00:00Z --json");
        EXPECT_TRUE(Has(stored.out, "\"total_dose\": null, \"new\": true}")) << total << ": " << stored.out;
    }
    ASSERT_EQ(records("unassign --serial 170123 --at 2026-04-01T08:00:00Z").exitCode, 0);
    ASSERT_EQ(records("assign --serial 170123 --wearer W-2 --from 2026-04-01T08:00:00Z").exitCode, 0);
    ASSERT_EQ(records("import-params " + reply("g", "2.00003E+02") + " --at 2026-04-10T08:00:00Z").exitCode, 0);

    const CliRun readouts = records("readouts --serial 170123 --json");
    EXPECT_EQ(Count(readouts.out, "{"), 7u);
    EXPECT_EQ(Count(readouts.out, "\"total_dose\": null, \"increment\": null, \"flags\": [\"invalid-dose\"], "
                                  "\"wearer\": \"W-1\""), 4u) << readouts.out;
    // W-2's first readout is accounted against the last total that was a dose.
    EXPECT_TRUE(Has(readouts.out, "\"total_dose\": 200.003, \"increment\": 0.001, \"flags\": [], \"wearer\": \"W-2\""))
        << readouts.out;
    EXPECT_TRUE(Has(records("annual --wearer W-1 --year 2026 --json").out, "\"dose\": 0.001,"));
    EXPECT_TRUE(Has(records("annual --wearer W-2 --year 2026 --json").out, "\"dose\": 0.001,"));
    EXPECT_TRUE(Has(csv("readouts"), ",,,invalid-dose,W-1\r\n"));
    EXPECT_TRUE(Has(records("readouts --serial 170123").out, "'nan' (no dose)"));
}

TEST_P(RecordsAccounting, CsvCellsNeverRunAsFormulasAndNumbersCarryNoNoise) {
    DM_REQUIRE_BACKEND(db_);
    const std::string serial = "=SUM(1,2)";
    for (const auto& [total, day] : {std::pair{"1.300E-02", "01"}, {"1.800E-02", "02"}, {"4.25E-03", "03"}}) {
        const CliRun stored = records("import-params " + reply(day, total, serial) + " --at 2026-03-" + day +
                                      "T08:00:00Z --station '-2+3' --operator '@SUM(A1)' --json");
        ASSERT_EQ(stored.exitCode, 0) << stored.err;
        EXPECT_EQ(Has(stored.out, "\"total_dose\": 0.00425,"), std::string(day) == "03") << stored.out;
    }
    ASSERT_EQ(records("wearer-add --id '+W' --name \"$(printf '\\tTab')\"").exitCode, 0);
    ASSERT_EQ(records("assign --serial '" + serial + "' --wearer +W --from 2026-03-01T08:00:00Z").exitCode, 0);

    const std::string readouts = csv("readouts");
    EXPECT_TRUE(Has(readouts, "\"'=SUM(1,2)\",2,2026-03-02T08:00:00Z,'-2+3,'@SUM(A1),0.018,0.005,,'+W\r\n"))
        << readouts;
    EXPECT_TRUE(Has(readouts, ",0.00425,0.00425,reset,'+W\r\n")) << readouts;
    EXPECT_TRUE(Has(csv("wearers"), "'+W,'\tTab,,\"'=SUM(1,2)\"\r\n"));
    EXPECT_TRUE(Has(csv("doses"), "'+W,2026,0.00925\r\n"));
    EXPECT_TRUE(Has(records("readouts --serial '" + serial + "' --json").out, "\"total_dose\": 0.018, \"increment\": 0.005,"));
}

TEST_P(RecordsAccounting, AnswersSayWhatIsStoredAndRefuseWhatCannotBeKeptAsGiven) {
    DM_REQUIRE_BACKEND(db_);
    // The same serial and time with another total: stored as another readout, and said so.
    ASSERT_EQ(records("import-params " + reply("a", "2.0E+02") + " --at 2026-05-01T09:00:00Z").exitCode, 0);
    const CliRun other = records("import-params " + reply("b", "3.0E+02") + " --at 2026-05-01T09:00:00Z --json");
    EXPECT_TRUE(Has(other.out, "\"total_dose\": 300, \"new\": true}")) << other.out;
    const std::string id = other.out.substr(12, other.out.find(',') - 12);
    EXPECT_TRUE(Has(records("readouts --serial 170123 --json").out, "{\"readout\": " + id +
                                                                         ", \"at\": \"2026-05-01T09:00:00Z\""));
    const CliRun same = records("import-params " + reply("c", "2.0E+02") + " --at 2026-05-01T09:00:00Z --json");
    EXPECT_TRUE(Has(same.out, "{\"readout\": 1, \"serial\": \"170123\", \"model\": \"KRT-17A\", \"total_dose\": 200, "
                              "\"new\": false}")) << same.out;

    // Not an archive, not UTF-8: refused, nothing stored.
    const CliRun program = records("import-archive /bin/ls --serial 170123 --at 2026-05-01T09:00:00Z");
    EXPECT_EQ(program.exitCode, 2);
    EXPECT_EQ(Lines(program.err), 1u) << program.err;
    EXPECT_EQ(records("wearer-add --id \"$(printf 'W\\377')\" --name x").exitCode, 2);
    EXPECT_EQ(records("wearer-add --id W --name \"$(printf 'Iv\\300nov')\"").exitCode, 2);
    EXPECT_EQ(records("wearers --json").out, "[]\n");

    // The last year there is: the year's dose and the export's agree.
    ASSERT_EQ(records("wearer-add --id W --name W").exitCode, 0);
    ASSERT_EQ(records("assign --serial 170123 --wearer W --from 9999-01-01T00:00:00Z").exitCode, 0);
    ASSERT_EQ(records("import-params " + reply("d", "3.002E+02") + " --at 9999-12-31T23:59:59Z").exitCode, 0);
    EXPECT_TRUE(Has(records("annual --wearer W --year 9999 --json").out, "\"dose\": 0.2,"));
    EXPECT_TRUE(Has(csv("doses", " --year 9999"), "W,9999,0.2\r\n"));

    if (!db_.postgres())
        return;
    // A password on the command line: one note, after which the command works.
    DatabaseUrl withPassword = db_.url();
    withPassword.password = "pw";
    const CliRun noted = Cli("records --db '" + test::UrlText(withPassword) + "' dosimeters");
    EXPECT_EQ(noted.exitCode, 0);
    EXPECT_EQ(Lines(noted.err), 1u) << noted.err;
    EXPECT_TRUE(Has(noted.err, "~/.pgpass"));
    // A refusal the server explains with a warning per column: still one line.
    const std::string login = "accounting_" + std::to_string(::getpid());
    DatabaseUrl base = db_.url(), asLogin = db_.url();
    base.databaseName = "postgres";
    asLogin.user = login;
    ASSERT_TRUE(test::PgAdmin(base, "CREATE ROLE " + login + " LOGIN"));
    ASSERT_TRUE(test::PgAdmin(db_.url(), "GRANT SELECT ON ALL TABLES IN SCHEMA public TO " + login));
    test::PgAdmin(base, "DO $$ BEGIN CREATE ROLE dosimeter_station; CREATE ROLE dosimeter_admin;"
                        " CREATE ROLE dosimeter_reader; EXCEPTION WHEN duplicate_object THEN NULL; END $$");
    const CliRun refused = Cli("records --db '" + test::UrlText(asLogin) + "' setup-roles --apply");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(Lines(refused.err), 1u) << refused.err;
    EXPECT_TRUE(Has(refused.err, "only the owner of the records tables")) << refused.err; // never a false success
    test::PgAdmin(db_.url(), "REVOKE ALL ON ALL TABLES IN SCHEMA public FROM " + login);
    test::PgAdmin(base, "DROP ROLE " + login);
}

TEST_P(RecordsAccounting, ReadoutsOfOneSecondAreKeptAtTheirRealTime) {
    DM_REQUIRE_BACKEND(db_);
    // The window: three readouts in one second stay in that second, each of them.
    {
        StationRecorder recorder(db_.urlText(), work_ / "spool.sqlite", {"station", "op"}, [] { return 1'800'000'000; });
        for (const char* total : {"1.0E-03", "1.1E-03", "1.2E-03"})
            recorder.parametersArrived(ReadParameterSet("serial_number = W-7\r\ntotal_val = " + std::string(total) + "\r\n"));
        recorder.parametersArrived(ReadParameterSet("serial_number = W-7\r\ntotal_val = 1.2E-03\r\n")); // the same again
        recorder.waitIdle();
    }
    const auto readouts = RecordsRepository::open(db_.url())->readouts("W-7");
    ASSERT_EQ(readouts.size(), 3u);
    for (const ReadoutView& r : readouts)
        EXPECT_EQ(r.at, 1'800'000'000);
    EXPECT_EQ(readouts[2].accounted.increment, 0.0001); // 0.0012 - 0.0011 without the noise

    // The command line: two reads in one second are two readouts; the first one again is none.
    const std::string a = reply("a", "1.0E-03"), b = reply("b", "1.1E-03");
    EXPECT_TRUE(Has(records("import-params " + a + " --at 2026-05-01T09:00:00Z").out, ": stored"));
    EXPECT_TRUE(Has(records("import-params " + b + " --at 2026-05-01T09:00:00Z").out, ": stored"));
    EXPECT_TRUE(Has(records("import-params " + a + " --at 2026-05-01T09:00:00Z").out, "already stored"));
    EXPECT_TRUE(Has(records("readouts --serial 170123 --json").out, "\"increment\": 1e-04, \"flags\": []"));
}

TEST_P(RecordsAccounting, ManyRepliesGoInOneTransactionWithProgressOnATerminalOnly) {
    DM_REQUIRE_BACKEND(db_);
    ASSERT_EQ(records("import-params " + reply("first", "1.0E-03") + " --at 2026-01-01T00:00:00Z").exitCode, 0);
    std::string manifest;
    for (int i = 1; i <= 50; ++i)
        manifest += (i % 2 ? "170123," : ",") + std::string("2026-01-02T00:00:") + (i < 10 ? "0" : "") +
                    std::to_string(i) + "Z," + fs::path(reply("r" + std::to_string(i), std::to_string(i) + ".0E-03")).filename().string() +
                    "\r\n";
    ASSERT_TRUE(WriteFileAtomically(work_ / "manifest.csv", "# serial,time,file\r\n" + manifest + "\r\n"));
    // A bad line anywhere: nothing of the batch is stored.
    ASSERT_TRUE(WriteFileAtomically(work_ / "bad.csv", manifest + "170123,2026-13-01T00:00:00Z,r1\r\n"));
    const CliRun bad = records("import-params --manifest " + (work_ / "bad.csv").string());
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(Has(bad.err, "bad.csv line 51")) << bad.err;
    EXPECT_EQ(Lines(records("readouts --serial 170123").out), 2u);

    const CliRun quiet = records("import-params --manifest " + (work_ / "manifest.csv").string() + " --json");
    ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_EQ(quiet.err, ""); // no terminal, no progress line
    EXPECT_EQ(Count(quiet.out, "{"), 50u);
    EXPECT_EQ(quiet.out.rfind("[\n {\"readout\": ", 0), 0u) << quiet.out;
    EXPECT_TRUE(Has(records("readouts --serial 170123 --json").out, "\"total_dose\": 0.05, \"increment\": 0.001,"));

    // On a terminal (script gives it one), the progress line is drawn and wiped.
    const ShellRun shown = RunShell("script -qec \"" + kCli + " " + db() + "import-archive " DM_TEST_DATA
                                    "/archive-krt17a.txt --at 2026-01-03T00:00:00Z " DM_TEST_DATA
                                    "/archive-krt17a.txt --at 2026-01-04T00:00:00Z --serial 170123 >/dev/null\""
                                    " /dev/null 2>/dev/null");
    if (shown.out.empty())
        GTEST_SKIP() << "no script(1) to run the CLI on a terminal";
    EXPECT_TRUE(Has(shown.out, "import-archive: dose-history records stored: 16 of 16 (100 %)")) << shown.out;
    EXPECT_EQ(shown.out.back(), '\r') << shown.out;
    EXPECT_EQ(RecordsRepository::open(db_.url())->historyDownloads("170123").size(), 2u);
}

TEST_P(RecordsAccounting, AnOlderDatabaseIsUpgradedWithItsReadoutsAsTheyWereRead) {
    DM_REQUIRE_BACKEND(db_);
    // Schema version 1 as the program before this one made it, with what it stored: a
    // negative total as read, an unreadable one as 0.
    {
        QSqlDatabase raw = QSqlDatabase::addDatabase(db_.postgres() ? "QPSQL" : "QSQLITE", "version-1");
        const DatabaseUrl& u = db_.url();
        if (db_.postgres()) {
            raw.setHostName(QString::fromStdString(u.socketDir.empty() ? u.host : u.socketDir));
            raw.setPort(u.port);
            raw.setUserName(QString::fromStdString(u.user));
            raw.setDatabaseName(QString::fromStdString(u.databaseName));
        } else {
            fs::create_directories(fs::path(u.path).parent_path());
            raw.setDatabaseName(QString::fromStdString(u.path));
        }
        ASSERT_TRUE(raw.open());
        const std::string id = db_.postgres() ? "BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY" : "INTEGER PRIMARY KEY";
        for (std::string sql : SchemaMigrations()[0]) {
            for (std::size_t at; (at = sql.find("{ID}")) != std::string::npos;)
                sql.replace(at, 4, id);
            ASSERT_TRUE(QSqlQuery(raw).exec(QString::fromStdString(sql))) << sql;
        }
        for (const char* sql :
             {"INSERT INTO dosimeters (serial) VALUES ('170123')",
              "INSERT INTO readouts (dosimeter_id, taken_at, station, operator_name, model, total_dose)"
              " VALUES (1, 100, 's', 'o', 'KRT-17A', 0.001), (1, 200, 's', 'o', 'KRT-17A', -0.37),"
              " (1, 300, 's', 'o', 'KRT-17A', 0), (1, 400, 's', 'o', 'KRT-17A', 0.002)",
              "INSERT INTO readout_parameters VALUES (1, 1, 'total_val', '1.0E-03'), (2, 1, 'total_val', '-3.7E-01'),"
              " (3, 1, 'total_val', 'nan'), (4, 1, 'total_val', '2.0E-03')"})
            ASSERT_TRUE(QSqlQuery(raw).exec(sql)) << sql;
        raw.close();
    }
    QSqlDatabase::removeDatabase("version-1");

    auto repo = RecordsRepository::open(db_.url());
    const auto readouts = repo->readouts("170123");
    ASSERT_EQ(readouts.size(), 4u);
    EXPECT_EQ(readouts[1].accounted.flags, std::vector<std::string>{"invalid-dose"});
    EXPECT_EQ(readouts[2].totalText, "nan");
    EXPECT_EQ(readouts[2].accounted.flags, std::vector<std::string>{"invalid-dose"});
    EXPECT_EQ(readouts[3].accounted.increment, 0.001);
    // The first readout stored again is the one already there; another one in its second is new.
    ReadoutInput again{"170123", "KRT-17A", 100, {"s", "o"}, 0.001, {{"total_val", "1.0E-03"}}};
    EXPECT_EQ(repo->addReadout(again).id, 1);
    EXPECT_FALSE(repo->addReadout(again).isNew);
    again.parameters[0].raw = "1.5E-03";
    EXPECT_TRUE(repo->addReadout(again).isNew);
    EXPECT_EQ(repo->readoutParameters(readouts[0].id).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Backends, RecordsAccounting, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

TEST(RecordsAnswers, AnEmptyOrMistypedDatabaseIsRefusedAndMakesNothing) {
    const fs::path home = fs::temp_directory_path() / ("dm-accounting-home-" + std::to_string(::getpid()));
    fs::remove_all(home);
    const std::string env = "XDG_DATA_HOME='" + home.string() + "' ";
    for (const std::string& args : {std::string("records --db '' dosimeters"), std::string("records dosimeters --db=")}) {
        const CliRun run = Cli(args, env);
        EXPECT_EQ(run.exitCode, 2) << args;
        EXPECT_EQ(Lines(run.err), 1u) << run.err;
    }
    const CliRun typo = Cli("records --db sqlite:" + (home / "typo" / "records.sqlite").string() + " dosimeters", env);
    EXPECT_EQ(typo.exitCode, 1);
    EXPECT_TRUE(Has(typo.err, "no records database there")) << typo.err;
    EXPECT_FALSE(fs::exists(home));
}

TEST(RecordsAnswers, ReadParamsWithTheServerDownKeepsItsReadingInTheSpool) {
    EnsureQtCoreApplication("records_tests");
    const fs::path work = fs::temp_directory_path() / ("dm-accounting-read-" + std::to_string(::getpid()));
    fs::remove_all(work);
    fs::create_directories(work / "recv");
    // The simulated dosimeter answers on a port of its own, told on its first line.
    const std::string started =
        RunShell(kCli + " simulate --model KRT-17A --listen 127.0.0.1:0 --recv-dir '" + (work / "recv").string() +
                 "' --reply-delay 0 > '" + (work / "sim.out").string() + "' 2>&1 & echo $!; sleep 1").out;
    const std::string line = TryReadFile(work / "sim.out").value_or("");
    ASSERT_TRUE(Has(line, "listening on 127.0.0.1:")) << line;
    const std::string port = std::to_string(std::stoi(line.substr(line.find("127.0.0.1:") + 10)));
    const CliRun read = Cli("read-params --link tcp:127.0.0.1:" + port + " --recv-dir '" + (work / "recv").string() +
                             "' --catalogue " DM_SOURCE_DIR "/data/Commands.lst --db postgresql://u@127.0.0.1:1/dose",
                         "XDG_DATA_HOME='" + (work / "data").string() + "' ");
    RunShell("kill " + started.substr(0, started.find('\n')));
    EXPECT_EQ(read.exitCode, 1);
    EXPECT_FALSE(read.out.empty()); // the table, printed before the store
    EXPECT_EQ(Lines(read.err), 1u) << read.err;
    EXPECT_TRUE(Has(read.err, "kept in the spool")) << read.err;
    RecordSpool spool(work / "data" / "dosimeter-manager" / "records-spool.sqlite");
    EXPECT_EQ(spool.count(), 1);
    fs::remove_all(work);
}

} // namespace
} // namespace dm::records
