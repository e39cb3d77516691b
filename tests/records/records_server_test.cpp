// The records server as a hostile or broken world would have it: a frozen server and a
// file another program holds locked, stations trying to write history that is not
// theirs, an old database upgraded in place, another user's files, and a site set up
// exactly as the README says.
#include "core/text_file.h"
#include "records/call_watch.h"
#include "records/dose_of_record.h"
#include "records/private_files.h"
#include "records/schema.h"
#include "records/station_recorder.h"
#include "records_backends.h"
#include "../shell_run.h"

#include <QSqlError>

#include <chrono>
#include <csignal>
#include <fstream>
#include <future>
#include <regex>
#include <sstream>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace dm::records::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kReply = std::string(DM_TEST_DATA) + "/params-krt17a.txt";

struct CliRun {
    int code = -1;
    std::string out, err;
    double seconds = 0;
};

// The CLI, killed after 60 s so that a hang fails the test instead of stopping the run.
CliRun Cli(const std::string& args, const std::string& env = "") {
    static int counter = 0;
    const std::string errFile =
        ::testing::TempDir() + "dm-server-err-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    const auto start = Clock::now();
    const ShellRun r = RunShell(env + " timeout -s KILL 60 " DM_BIN_DIR "/dosimeter-cli records " + args + " 2>" + errFile);
    CliRun run{r.exitCode, r.out, {}, std::chrono::duration<double>(Clock::now() - start).count()};
    std::ifstream in(errFile);
    run.err.assign(std::istreambuf_iterator<char>(in), {});
    fs::remove(errFile);
    return run;
}

std::size_t Lines(const std::string& s) { return static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n')); }

// A connection of the test's own, as another program or another login would hold one.
class Session {
public:
    Session(const DatabaseUrl& url, const std::string& login = {}) {
        static int counter = 0;
        name_ = QStringLiteral("server-test-%1").arg(++counter);
        QSqlDatabase db = QSqlDatabase::addDatabase(url.kind == DatabaseUrl::Kind::Sqlite ? "QSQLITE" : "QPSQL", name_);
        if (url.kind == DatabaseUrl::Kind::Sqlite) {
            db.setDatabaseName(QString::fromStdString(url.path));
        } else {
            db.setHostName(QString::fromStdString(url.socketDir.empty() ? url.host : url.socketDir));
            db.setPort(url.port);
            db.setDatabaseName(QString::fromStdString(url.databaseName));
            db.setUserName(QString::fromStdString(login.empty() ? url.user : login));
        }
        open_ = db.open();
    }
    ~Session() {
        QSqlDatabase::database(name_, false).close();
        QSqlDatabase::removeDatabase(name_);
    }
    bool open() const { return open_; }
    // True when the statement ran; *error holds the server's words when not.
    bool exec(const std::string& sql, std::string* error = nullptr) {
        QSqlDatabase db = QSqlDatabase::database(name_, false);
        QSqlQuery q(db);
        const bool ok = q.exec(QString::fromStdString(sql));
        if (error)
            *error = q.lastError().text().toStdString();
        if (ok && q.next())
            last_ = q.value(0).toString().toStdString();
        return ok;
    }
    std::string value(const std::string& sql) {
        last_.clear();
        exec(sql);
        return last_;
    }

private:
    QString name_;
    bool open_ = false;
    std::string last_;
};

std::string ParamsReply(const std::string& serial, const std::string& total) {
    return "serial_number = " + serial + "\r\nmodel = neutron\r\ntotal_val = " + total + "\r\n";
}

// Another program takes the write lock and keeps it.
bool HoldLock(Session& other, bool pg) {
    return other.exec(pg ? "BEGIN" : "BEGIN EXCLUSIVE") &&
           other.exec(pg ? "LOCK TABLE dosimeters, readouts IN ACCESS EXCLUSIVE MODE"
                         : "INSERT INTO dosimeters (serial) VALUES ('held')");
}

// Stops the server process that waits for the lock (seen from a session outside the
// lock's transaction: the server's activity is a snapshot per transaction); 0 when none.
pid_t FreezeLockWaiter(Session& watcher) {
    for (int i = 0; i < 400; ++i) {
        const std::string pid = watcher.value("SELECT pid FROM pg_stat_activity WHERE wait_event_type = 'Lock'"
                                              " AND datname = current_database()");
        if (!pid.empty())
            return ::kill(static_cast<pid_t>(std::stol(pid)), SIGSTOP) == 0 ? static_cast<pid_t>(std::stol(pid)) : 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}

class ServerFaults : public ::testing::TestWithParam<std::string> {
protected:
    void TearDown() override { AbortDatabaseCalls(false); }
    std::string db() const { return "--db '" + db_.urlText() + "' "; }
    ScratchDatabase db_{GetParam()};
};

// A frozen PostgreSQL backend (stopped with SIGSTOP while it waits for a lock) and an
// SQLite file another program holds locked: the CLI gives up in bounded time with one
// line; the window's recorder, asked to stop, gives up at once and keeps what it holds
// in its spool, from which the next start stores it.
TEST_P(ServerFaults, AFrozenOrLockedDatabaseIsGivenUpInTimeAndNothingIsLost) {
    DM_REQUIRE_BACKEND(db_);
    const bool pg = db_.postgres();
    std::string url = db_.urlText();
    if (pg)
        url += "&statement_timeout=4&application_name=dm-frozen-" + std::to_string(::getpid());
    ASSERT_EQ(Cli("--db '" + url + "' import-params " + kReply + " --at 2026-05-01T09:00:00Z").code, 0);

    Session other(db_.url()), watcher(db_.url());
    ASSERT_TRUE(HoldLock(other, pg));
    auto blocked = std::async(std::launch::async, [&] {
        return Cli("--db '" + url + "' " +
                   (pg ? "import-archive " DM_TEST_DATA "/archive-krt17a.txt --serial 170123 --at 2026-05-02T09:00:00Z"
                       : "import-params " + kReply + " --at 2026-05-02T09:00:00Z"));
    });
    pid_t frozen = pg ? FreezeLockWaiter(watcher) : 0;
    EXPECT_TRUE(frozen || !pg) << "the CLI's server process was not stopped (not root?)";
    const CliRun given = blocked.get();
    if (frozen)
        ::kill(frozen, SIGCONT);
    EXPECT_EQ(given.code, 1) << given.err;
    EXPECT_EQ(Lines(given.err), 1u) << given.err;
    EXPECT_NE(given.err.find(pg ? "did not answer within 7 s" : "locked by another program"), std::string::npos)
        << given.err;
    EXPECT_LT(given.seconds, pg ? 20.0 : 15.0); // 7 s and 10 s bounds; before: hung, and 83 s
    EXPECT_GE(given.seconds, pg ? 5.0 : 9.0);

    // The window's recorder: stored while the database answers, then stuck on it.
    const fs::path spool = fs::path(::testing::TempDir()) / ("dm-frozen-spool-" + std::to_string(::getpid())) /
                           (GetParam() + ".sqlite");
    fs::remove_all(spool.parent_path());
    other.exec("ROLLBACK");
    UtcSeconds now = 1'800'000'000;
    auto recorder = std::make_unique<StationRecorder>(url, spool, Origin{"st", "op"}, [&] { return now; });
    recorder->parametersArrived(ReadParameterSet(ParamsReply("17-000900", "1.0E-06")));
    recorder->waitIdle();
    ASSERT_EQ(recorder->waiting(), 0);
    ASSERT_TRUE(HoldLock(other, pg));
    for (int i = 1; i <= 3; ++i) {
        now += 60;
        recorder->parametersArrived(ReadParameterSet(ParamsReply("17-000900", std::to_string(i + 1) + ".0E-06")));
    }
    frozen = pg ? FreezeLockWaiter(watcher) : 0;
    EXPECT_TRUE(frozen || !pg);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto stopAsked = Clock::now();
    AbortDatabaseCalls(); // what SIGTERM does in the window, after two seconds' grace
    auto stopped = std::async(std::launch::async, [&] { recorder.reset(); });
    const bool promptly = stopped.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    const double stopSeconds = std::chrono::duration<double>(Clock::now() - stopAsked).count();
    if (frozen)
        ::kill(frozen, SIGCONT);
    other.exec("ROLLBACK");
    stopped.get();
    EXPECT_TRUE(promptly);
    EXPECT_LT(stopSeconds, 2.0); // before: until the server came back
    AbortDatabaseCalls(false);
    {
        RecordSpool kept(spool);
        EXPECT_EQ(kept.count(), 3);
    }
    StationRecorder next(url, spool, Origin{"st", "op"});
    next.waitIdle();
    EXPECT_EQ(next.waiting(), 0);
    EXPECT_EQ(RecordsRepository::open(db_.url())->readouts("17-000900").size(), 4u);
}

// Explicit ids, someone else's name or time, rows added to another's readout, a hand-out
// or a limit rewritten: none of it gets in. Each row keeps who stored it and when by the
// database's account, shown beside the reading's own time; the limits in force at any time
// and every hand-over stay known.
TEST_P(ServerFaults, HistoryIsTheServersAndCannotBeRewrittenByAStation) {
    DM_REQUIRE_BACKEND(db_);
    const bool pg = db_.postgres();
    std::string st = db(), ad = db();
    const std::string tag = std::to_string(::getpid());
    const std::string station = "station_h" + tag, officer = "officer_h" + tag;
    DatabaseUrl server = db_.url();
    server.databaseName = "postgres";
    if (pg) {
        ASSERT_EQ(Cli(db() + "setup-roles --apply").code, 0);
        ASSERT_TRUE(PgAdmin(server, "CREATE ROLE " + station + " LOGIN IN ROLE dosimeter_station"));
        ASSERT_TRUE(PgAdmin(server, "CREATE ROLE " + officer + " LOGIN IN ROLE dosimeter_admin"));
        DatabaseUrl u = db_.url();
        u.user = station;
        st = "--db '" + UrlText(u) + "' ";
        u.user = officer;
        ad = "--db '" + UrlText(u) + "' ";
    }
    // A backdated readout under another operator's name.
    const CliRun stored = Cli(st + "import-params " + kReply + " --at 2020-01-01T00:00:00Z --operator 'Someone Else' --json");
    ASSERT_EQ(stored.code, 0) << stored.err;
    const std::string readoutsJson = Cli(st + "readouts --serial 170123 --json").out;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(readoutsJson, m, std::regex("\"recorded_at\": \"(\\d{4})-[^\"]+\", \"recorded_by\": ([^}]+)\\}")))
        << readoutsJson;
    EXPECT_GE(std::stoi(m[1]), 2026) << "the server's time, not the one given";
    EXPECT_EQ(m[2].str(), pg ? "\"" + station + "\"" : "null");
    ASSERT_EQ(Cli(st + "erased --serial 170123 --at 2020-01-02T00:00:00Z").code, 0);
    const std::string history = Cli(st + "history --serial 170123").out;
    EXPECT_NE(history.find("2020-01-02T00:00:00Z\t"), std::string::npos) << history;
    EXPECT_NE(history.find(pg ? "Z by " + station + "\n" : "Z\n"), std::string::npos) << history;

    if (pg) {
        Session s(db_.url(), station);
        ASSERT_TRUE(s.open());
        std::string error;
        for (const std::string& sql : {
                 std::string("INSERT INTO readouts (id, dosimeter_id, taken_at, station, operator_name, model)"
                             " OVERRIDING SYSTEM VALUE VALUES (6, 1, 5, 's', 'o', 'm')"),
                 std::string("INSERT INTO erase_events (dosimeter_id, taken_at, station, operator_name, recorded_by,"
                             " recorded_at) VALUES (1, 7, 's', 'o', 'someone', 0)"),
                 std::string("INSERT INTO readout_parameters (readout_id, position, key, raw_value)"
                             " VALUES (1, 99, 'total_val', '0')"),
                 std::string("INSERT INTO handovers (dosimeter_id, wearer_id, handed_at) VALUES (1, NULL, 9)"),
                 std::string("UPDATE readouts SET taken_at = 1"), std::string("DELETE FROM erase_events")}) {
            EXPECT_FALSE(s.exec(sql, &error)) << sql;
            EXPECT_TRUE(error.find("permission denied") != std::string::npos ||
                        error.find("only with their readouts row") != std::string::npos)
                << sql << ": " << error;
        }
        EXPECT_TRUE(s.exec("INSERT INTO dosimeters (serial) VALUES ('by-hand')", &error)) << error;
    }

    // Hand-outs and hand-backs are rows; the assignments follow from them alone.
    ASSERT_EQ(Cli(ad + "wearer-add --id W-01 --name 'Petrova, Olga'").code, 0);
    ASSERT_EQ(Cli(ad + "wearer-add --id W-02 --name 'Sidorov, Ivan'").code, 0);
    ASSERT_EQ(Cli(ad + "assign --serial 170123 --wearer W-01 --from 2026-01-01T00:00:00Z").code, 0);
    ASSERT_EQ(Cli(ad + "unassign --serial 170123 --at 2026-02-01T00:00:00Z").code, 0);
    ASSERT_EQ(Cli(ad + "assign --serial 170123 --wearer W-02 --from 2026-03-01T00:00:00Z").code, 0);
    Session owner(db_.url());
    EXPECT_EQ(owner.value("SELECT COUNT(*) FROM handovers"), "3");
    EXPECT_EQ(owner.value("SELECT COUNT(*) FROM assignments WHERE until_at IS NOT NULL"), "1");
    EXPECT_EQ(Cli(db() + "dosimeters --json").out.find("\"wearer\": \"W-02\"") != std::string::npos, true);
    std::string error;
    EXPECT_FALSE(owner.exec("INSERT INTO handovers (dosimeter_id, wearer_id, handed_at) VALUES (1, 'W-01', 1)", &error))
        << "a hand-out before the last one";

    // Limits: each change a row, those in force at a time known.
    ASSERT_EQ(Cli(ad + "limits --annual 0.03").code, 0);
    EXPECT_NE(Cli(st + "limits --json").out.find("\"annual\": 0.03,"), std::string::npos);
    EXPECT_NE(Cli(st + "limits --at 2025-01-01T00:00:00Z --json").out.find("\"annual\": 0.02,"), std::string::npos);

    // A correction carries the login and the time the server saw, whatever it says.
    ASSERT_EQ(Cli(ad + "correct --readout 1 --total-dose 0.25 --reason 'misread'").code, 0);
    if (pg) {
        Session o(db_.url(), officer);
        for (const std::string& sql :
             {std::string("INSERT INTO readout_corrections (readout_id, total_dose, reason, corrected_by, corrected_at)"
                          " VALUES (1, 9, 'x', '" + station + "', 0)"),
              std::string("INSERT INTO dose_limit_changes (name, sv, in_force_from) VALUES ('annual', 1, 0)"),
              std::string("UPDATE assignments SET until_at = NULL"), std::string("UPDATE wearers SET name = 'x'"),
              std::string("DELETE FROM handovers")}) {
            EXPECT_FALSE(o.exec(sql, &error)) << sql;
            EXPECT_NE(error.find("permission denied"), std::string::npos) << sql << ": " << error;
        }
        EXPECT_EQ(Cli(st + "assign --serial 170123 --wearer W-01 --from 2026-04-01T00:00:00Z").code, 1);
        const std::string history = Cli(st + "history --serial 170123 --json").out;
        EXPECT_NE(history.find("\"operator\": \"" + officer + "\", \"action\": \"correct\""), std::string::npos)
            << history;
        PgAdmin(server, "DROP DATABASE IF EXISTS " + db_.url().databaseName + " WITH (FORCE)");
        PgAdmin(server, "DROP ROLE " + station);
        PgAdmin(server, "DROP ROLE " + officer);
    }
}

// A database of the first schema, with a station's own ids, a hand-over and a changed
// limit, is upgraded in place: every row stays, the next import stores, and the hand-over
// and the limit read as before.
TEST_P(ServerFaults, AnOldDatabaseUpgradedInPlaceKeepsItsRows) {
    DM_REQUIRE_BACKEND(db_);
    const bool pg = db_.postgres();
    if (!pg) {
        ASSERT_TRUE(CreatePrivateFolders(fs::path(db_.url().path).parent_path(), nullptr));
    }
    {
        Session old(db_.url());
        ASSERT_TRUE(old.open());
        std::string error;
        for (std::string sql : SchemaMigrations()[0]) {
            for (std::size_t at; (at = sql.find("{ID}")) != std::string::npos;)
                sql.replace(at, 4, pg ? "BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY" : "INTEGER PRIMARY KEY");
            ASSERT_TRUE(old.exec(sql, &error)) << sql << ": " << error;
        }
        for (const std::string& sql :
             {std::string("INSERT INTO dosimeters (serial) VALUES ('OLD-1')"),
              std::string("INSERT INTO readouts (id, dosimeter_id, taken_at, station, operator_name, model, total_dose)"
                          " VALUES (6, 1, 100, 's', 'o', 'KRT-17A', 0.001), (7, 1, 200, 's', 'o', 'KRT-17A', 0.003)"),
              std::string("INSERT INTO wearers (id, name) VALUES ('W-9', 'Old, Wearer')"),
              std::string("INSERT INTO assignments (dosimeter_id, wearer_id, from_at, until_at) VALUES (1, 'W-9', 50, 150)"),
              std::string("INSERT INTO assignments (dosimeter_id, wearer_id, from_at) VALUES (1, 'W-9', 150)"),
              std::string("UPDATE dose_limits SET sv = 0.04 WHERE name = 'annual'")})
            ASSERT_TRUE(old.exec(sql, &error)) << sql << ": " << error;
        if (!pg)
            ::chmod(db_.url().path.c_str(), 0600);
    }
    auto repo = RecordsRepository::open(db_.url());
    EXPECT_EQ(repo->schemaVersion(), RecordsRepository::currentSchemaVersion());
    const auto readouts = repo->readouts("OLD-1");
    ASSERT_EQ(readouts.size(), 2u);
    EXPECT_NEAR(readouts[1].accounted.increment.value_or(-1), 0.002, 1e-12);
    EXPECT_EQ(readouts[1].wearer, std::optional<std::string>("W-9"));
    EXPECT_FALSE(readouts[1].recorded.at); // nobody knows who stored it then
    ReadoutInput next;
    next.serial = "OLD-1";
    next.at = 300;
    next.origin = {"s", "o"};
    next.totalDose = 0.004;
    EXPECT_TRUE(repo->addReadout(next).isNew); // the numbering is past the station's ids
    DoseOfRecord record(*repo);
    EXPECT_EQ(record.limits().annual, 0.04);
    EXPECT_EQ(record.currentWearer("OLD-1"), std::optional<std::string>("W-9"));
    record.unassign("OLD-1", 400);
    EXPECT_EQ(record.currentWearer("OLD-1"), std::nullopt);
    EXPECT_EQ(repo->readouts("OLD-1")[2].wearer, std::optional<std::string>("W-9"));
}

INSTANTIATE_TEST_SUITE_P(Backends, ServerFaults, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

// Under umask 000 the folders made for the records are the owner's alone; another user's
// or a world-writable database or folder is refused with one line; a path that is not
// UTF-8 is refused; an export is written owner-only. (Files: SQLite's case only.)
TEST(RecordsServerPrivacy, FoldersArePrivateAndForeignOrWritableDatabasesAreRefused) {
    const fs::path home = fs::path(::testing::TempDir()) / ("dm-home-" + std::to_string(::getpid()));
    fs::remove_all(home);
    fs::create_directories(home);
    const std::string env = "umask 000; HOME='" + home.string() + "' XDG_DATA_HOME= DOSIMETER_RECORDS= ";
    const CliRun first = Cli("import-params " + kReply + " --at 2026-05-01T09:00:00Z", env);
    ASSERT_EQ(first.code, 0) << first.err;
    const fs::path folder = home / ".local/share/dosimeter-manager";
    struct stat st {};
    for (const fs::path& made : {home / ".local", home / ".local/share", folder}) {
        ASSERT_EQ(::stat(made.c_str(), &st), 0) << made;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << made;
    }
    ASSERT_EQ(::stat((folder / "records.sqlite").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const std::string db = "--db 'sqlite:" + (folder / "records.sqlite").string() + "' ";
    ::chmod(folder.c_str(), 0777);
    CliRun refused = Cli(db + "dosimeters", env);
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(Lines(refused.err), 1u) << refused.err;
    EXPECT_NE(refused.err.find("can be written by other users"), std::string::npos) << refused.err;
    ::chmod(folder.c_str(), 0700);
    ::chmod((folder / "records.sqlite").c_str(), 0666);
    refused = Cli(db + "import-params " + kReply + " --at 2026-05-02T09:00:00Z", env);
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("can be written by other users"), std::string::npos) << refused.err;
    ::chmod((folder / "records.sqlite").c_str(), 0600);
    if (::geteuid() == 0) { // a database planted by another user
        ASSERT_EQ(::chown((folder / "records.sqlite").c_str(), 65534, 65534), 0);
        refused = Cli(db + "dosimeters", env);
        EXPECT_EQ(refused.code, 1);
        EXPECT_EQ(Lines(refused.err), 1u);
        EXPECT_NE(refused.err.find("belongs to another user"), std::string::npos) << refused.err;
        ASSERT_EQ(::chown((folder / "records.sqlite").c_str(), 0, 0), 0);
    }
    EXPECT_EQ(Cli(db + "dosimeters", env).code, 0);
    refused = Cli("--db \"sqlite:" + home.string() + "/r$(printf '\\351')cords.sqlite\" dosimeters", env);
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("not UTF-8"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(home / "r\xe9" "cords.sqlite"));

    // An export replacing a readable file under umask 000: owner-only all the same.
    const fs::path csv = home / "doses.csv";
    std::ofstream(csv) << "old";
    ::chmod(csv.c_str(), 0644);
    const mode_t before = ::umask(0);
    EXPECT_TRUE(ReplacePrivateFileWhole(csv, "wearer,year,dose\r\n"));
    ::umask(before);
    ASSERT_EQ(::stat(csv.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    fs::remove_all(home);
}

// The README's site set-up, run line by line on a server of the test's own (roles are
// the whole server's): the owner needs no role-making right, and each login then may do
// exactly its part. The URLs name a host with sslmode; here they reach the test socket.
TEST(RecordsSiteSetUp, TheReadmeSetUpWorksAsWritten) {
    EnsureQtCore();
    if (::geteuid() != 0 && std::system("command -v psql >/dev/null") != 0)
        GTEST_SKIP() << "psql is not installed";
    const fs::path work = fs::path(::testing::TempDir()) / ("dm-site-" + std::to_string(::getpid()));
    fs::remove_all(work);
    fs::create_directories(work / "home");
    const std::string script = DM_SCRIPTS_DIR "/pg-test-server.sh";
    if (std::system(("bash '" + script + "' start '" + work.string() + "/pg' >/dev/null 2>&1").c_str()) != 0 ||
        !fs::exists(work / "pg" / "url"))
        GTEST_SKIP() << "PostgreSQL is not installed";
    std::string serverUrl;
    std::getline(std::ifstream(work / "pg" / "url"), serverUrl);
    const DatabaseUrl server = *ParseDatabaseUrl(serverUrl, nullptr);

    std::ifstream readme(DM_SOURCE_DIR "/README.md");
    std::stringstream text;
    text << readme.rdbuf();
    const std::string all = text.str();
    const auto begin = all.find("<!-- site-setup -->"), end = all.find("<!-- /site-setup -->");
    ASSERT_NE(begin, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    std::string commands;
    std::istringstream block(all.substr(begin, end - begin));
    for (std::string line; std::getline(block, line);)
        if (line.rfind("    ", 0) == 0)
            commands += line.substr(4) + "\n";
    const std::string socket = "/dose_records?host=" + server.socketDir + "&port=" + std::to_string(server.port);
    commands = std::regex_replace(commands, std::regex("@db\\.site\\.example/dose_records\\?"), "@" + socket + "&");
    commands = std::regex_replace(commands, std::regex("@db\\.site\\.example/dose_records"), "@" + socket);
    ASSERT_EQ(commands.find("db.site.example/"), std::string::npos) << commands;
    std::ofstream(work / "setup.sh") << commands;
    const std::string env = "cd '" + work.string() + "' && HOME='" + work.string() + "/home' PGHOST='" +
                            server.socketDir + "' PGPORT=" + std::to_string(server.port) + " PGUSER=" + server.user +
                            " PATH=" DM_BIN_DIR ":$PATH ";
    const ShellRun setup = RunShell(env + "timeout 120 bash -e setup.sh 2>&1");
    EXPECT_EQ(setup.exitCode, 0) << commands << "\n" << setup.out;

    auto as = [&](const std::string& login) {
        return "--db 'postgresql://" + login + "@" + socket + "&sslmode=prefer&application_name=dm-site' ";
    };
    EXPECT_EQ(Cli(as("station1") + "import-params " + kReply + " --at 2026-05-01T09:00:00Z").code, 0);
    const CliRun stationRefused = Cli(as("station1") + "wearer-add --id W-1 --name 'Petrova, Olga'");
    EXPECT_EQ(stationRefused.code, 1);
    EXPECT_NE(stationRefused.err.find("permission denied"), std::string::npos) << stationRefused.err;
    EXPECT_EQ(Cli(as("rso") + "wearer-add --id W-1 --name 'Petrova, Olga'").code, 0);
    EXPECT_EQ(Cli(as("rso") + "assign --serial 170123 --wearer W-1 --from 2026-05-01T09:00:00Z").code, 0);
    EXPECT_EQ(Cli(as("rso") + "correct --readout 1 --total-dose 0.5 --reason typo").code, 0);
    EXPECT_EQ(Cli(as("auditor") + "annual --wearer W-1 --year 2026 --json").code, 0);
    EXPECT_EQ(Cli(as("auditor") + "import-params " + kReply + " --at 2026-05-02T09:00:00Z").code, 1);
    Session owner(*ParseDatabaseUrl("postgresql://dose_owner@" + socket, nullptr));
    EXPECT_EQ(owner.value("SELECT rolcreaterole OR rolsuper FROM pg_roles WHERE rolname = 'dose_owner'"), "false");
    EXPECT_EQ(owner.value("SELECT tableowner FROM pg_tables WHERE tablename = 'readouts'"), "dose_owner");
    std::system(("bash '" + script + "' stop '" + work.string() + "/pg' >/dev/null 2>&1").c_str());
    fs::remove_all(work);
}

} // namespace
} // namespace dm::records::test
