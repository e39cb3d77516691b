// A station's recorder through a PostgreSQL outage: a server of the test's own is stopped
// while readouts, a change, a download and an erase arrive, then started again; the
// spool empties into it in order, and a replayed spool stores nothing twice.
#include "core/cp1251.h"
#include "params/change_check.h"
#include "records/station_recorder.h"
#include "records_backends.h"
#include "../shell_run.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

namespace dm::records::test {
namespace {

namespace fs = std::filesystem;

// A PostgreSQL server of this test alone, so stopping it disturbs no other test.
class OwnServer {
public:
    explicit OwnServer(const fs::path& state) : state_(state) {
        started_ = script("start") && fs::exists(state_ / "url");
        if (started_) {
            std::ifstream in(state_ / "url");
            std::getline(in, url_);
        }
    }
    ~OwnServer() { script("stop"); }
    bool started() const { return started_; }
    const std::string& url() const { return url_; }
    bool pause() { return script("pause"); }
    bool resume() { return script("resume"); }

private:
    bool script(const std::string& action) {
        const std::string command = "bash '" DM_SCRIPTS_DIR "/pg-test-server.sh' " + action + " '" +
                                    state_.string() + "' >/dev/null 2>&1";
        return std::system(command.c_str()) == 0;
    }
    fs::path state_;
    bool started_ = false;
    std::string url_;
};

struct Log {
    std::mutex mutex;
    std::vector<std::string> lines;
    int count(const std::string& part) {
        std::lock_guard<std::mutex> lock(mutex);
        int n = 0;
        for (const std::string& l : lines)
            n += l.find(part) != std::string::npos;
        return n;
    }
};

ParameterSet Params(const std::string& threshold, const std::string& total) {
    return ReadParameterSet("serial_number = 17-000101\r\nmodel = neutron\r\ntotal_val = " + total +
                            "\r\ndose_threshold = " + threshold + "\r\n");
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(StationRecorder, SpoolOutlivesAServerOutageAndEmptiesIntoItOnce) {
    EnsureQtCore();
    const fs::path work = fs::temp_directory_path() / ("dm-recorder-" + std::to_string(::getpid()));
    fs::remove_all(work);
    fs::create_directories(work);
    OwnServer server(work / "pg");
    if (!server.started())
        GTEST_SKIP() << "PostgreSQL is not installed";
    const fs::path spoolFile = work / "station" / "records-spool.sqlite";
    UtcSeconds now = 1'800'000'000;
    Log log;
    {
        StationRecorder recorder(server.url(), spoolFile, {"station-1", "tech"}, [&] { return now; });
        recorder.setNotify([&](const std::string& line) {
            std::lock_guard<std::mutex> lock(log.mutex);
            log.lines.push_back(line);
        });
        recorder.parametersArrived(Params("1.000E-03", "1.0E-06"));
        recorder.waitIdle();
        EXPECT_EQ(recorder.waiting(), 0);
        EXPECT_EQ(RecordSpool(spoolFile).count(SpoolDatabaseKey(server.url())), 0); // taken off once stored

        ASSERT_TRUE(server.pause());
        recorder.changesSent(std::vector<SentChange>{{"dose_threshold", "1.000E-03", "2.000E-03"}});
        now += 5;
        const ParameterSet renewed = Params("2.000E-03", "1.5E-06");
        recorder.changesSettled({ValueTaken(renewed, "dose_threshold", "2.000E-03")}); // took it
        recorder.parametersArrived(renewed);
        recorder.archiveArrived(ParseDoseArchive(Cp1251ToUtf8(ReadText(DM_TEST_DATA "/archive-krt17a.txt")), 1.0),
                                1.0);
        now += 5;
        recorder.erasePushed();
        recorder.parametersArrived(Params("2.000E-03", "0.0E+00"));
        recorder.waitIdle();
        EXPECT_EQ(recorder.waiting(), 5);
        EXPECT_EQ(log.count("cannot be written"), 1); // said once for the whole outage
        EXPECT_GE(log.count("5 records wait"), 1);
        struct stat st {};
        ASSERT_EQ(::stat(spoolFile.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        ASSERT_EQ(::stat(spoolFile.parent_path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);

        ASSERT_TRUE(server.resume());
        recorder.retryNow();
        recorder.waitIdle();
        EXPECT_EQ(recorder.waiting(), 0);
        EXPECT_EQ(log.count("is back:"), 1);
    }

    // As if the station died between storing a record and taking it off the spool.
    {
        RecordSpool spool(spoolFile);
        // The same reading: one readout is the same serial, second and content.
        spool.append(*ReadoutFromParameters(Params("2.000E-03", "1.5E-06"), 1'800'000'005,
                                            {"station-1", "tech"}),
                     SpoolDatabaseKey(server.url()), 0);
        StationRecorder replay(server.url(), spoolFile, {"station-1", "tech"});
        replay.waitIdle();
        EXPECT_EQ(replay.waiting(), 0);
    }

    std::unique_ptr<RecordsRepository> repo = RecordsRepository::open(server.url());
    const std::vector<ReadoutView> readouts = repo->readouts("17-000101");
    ASSERT_EQ(readouts.size(), 3u);
    EXPECT_EQ(readouts[0].at, 1'800'000'000);
    EXPECT_EQ(readouts[1].at, 1'800'000'005);
    EXPECT_EQ(readouts[2].at, 1'800'000'010);
    EXPECT_EQ(readouts[2].accounted.flags, std::vector<std::string>{"after-erase"});
    EXPECT_EQ(repo->readoutParameters(readouts[1].id).size(), 4u);

    const std::vector<HistoryEntry> history = repo->history("17-000101");
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0].action, "send-changes");
    EXPECT_EQ(history[0].at, 1'800'000'000);
    ASSERT_EQ(history[0].changes.size(), 1u);
    EXPECT_EQ(history[0].changes[0].key, "dose_threshold");
    EXPECT_EQ(history[0].changes[0].before, "1.000E-03");
    EXPECT_EQ(history[0].changes[0].after, "2.000E-03");
    EXPECT_TRUE(history[0].changes[0].taken);
    EXPECT_EQ(history[1].action, "erase");

    const std::vector<HistoryDownloadView> downloads = repo->historyDownloads("17-000101");
    ASSERT_EQ(downloads.size(), 1u);
    EXPECT_EQ(downloads[0].layout, 'A');
    EXPECT_FALSE(downloads[0].records.empty());
    fs::remove_all(work);
}

// The database takes no records for a while (on PostgreSQL a standby after a failover:
// every transaction read-only; on SQLite a trigger that fails as a full disk does): the
// recorder keeps trying, never gives a record up, and says what waits and why, in the
// status log and in `records spool`; `records spool --retry` sends it all once the
// database takes records again.
class SpoolUnderRefusal : public ::testing::TestWithParam<std::string> {
protected:
    void refuse(const ScratchDatabase& db, bool on) {
        if (db.postgres()) {
            // Sessions already open keep writing: they are ended, as a failover ends them
            // (waiting for each to be gone, so none writes after this).
            ASSERT_TRUE(PgAdmin(db.url(), on ? "ALTER DATABASE " + db.url().databaseName +
                                                   " SET default_transaction_read_only = on"
                                             : "BEGIN READ WRITE; ALTER DATABASE " + db.url().databaseName +
                                                   " RESET default_transaction_read_only; COMMIT"));
            PgAdmin(db.url(), "SELECT pg_terminate_backend(pid, 10000) FROM pg_stat_activity WHERE datname = "
                              "current_database() AND pid <> pg_backend_pid()");
            return;
        }
        const QString name = QStringLiteral("refusing-trigger");
        {
            QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            raw.setDatabaseName(QString::fromStdString(db.url().path));
            ASSERT_TRUE(raw.open());
            ASSERT_TRUE(QSqlQuery(raw).exec(
                on ? QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON readouts BEGIN "
                                    "SELECT RAISE(ABORT, 'database or disk is full'); END")
                   : QStringLiteral("DROP TRIGGER refuse")));
            raw.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
};

TEST_P(SpoolUnderRefusal, KeepsEveryRecordAndSaysWhyUntilTheDatabaseTakesThem) {
    ScratchDatabase db(GetParam());
    DM_REQUIRE_BACKEND(db);
    const fs::path work = fs::temp_directory_path() / ("dm-refused-" + std::to_string(::getpid()) + GetParam());
    fs::remove_all(work);
    const fs::path spoolFile = work / "records-spool.sqlite";
    UtcSeconds now = 1'800'000'000;
    Log log;
    {
        StationRecorder recorder(db.urlText(), spoolFile, {"station-1", "tech"}, [&] { return now += 60; });
        recorder.setNotify([&](const std::string& line) {
            std::lock_guard<std::mutex> lock(log.mutex);
            log.lines.push_back(line);
        });
        recorder.parametersArrived(Params("1.000E-03", "1.0E-06"));
        recorder.waitIdle();
        ASSERT_EQ(recorder.waiting(), 0);

        refuse(db, true);
        for (const char* total : {"2.0E-06", "3.0E-06", "4.0E-06"})
            recorder.parametersArrived(Params("1.000E-03", total));
        recorder.waitIdle();
        for (int i = 0; i < 5; ++i) { // far past the three tries an older version allowed
            recorder.retryNow();
            recorder.waitIdle();
        }
        EXPECT_EQ(recorder.waiting(), 3);
        EXPECT_GE(log.count("3 records wait for the records database. Last failure: "), 1);
        EXPECT_GE(log.count(db.postgres() ? "read-only" : "disk is full"), 1);
    }

    const std::string spool = std::string(DM_BIN_DIR) + "/dosimeter-cli records --db '" + db.urlText() +
                              "' spool --spool '" + spoolFile.string() + "' --json 2>/dev/null";
    const ShellRun listed = RunShell(spool);
    EXPECT_EQ(listed.exitCode, 0);
    std::size_t readouts = 0;
    for (std::size_t at = 0; (at = listed.out.find("\"kind\": \"readout\", \"serial\": \"17-000101\"", at)) !=
                             std::string::npos;
         ++at)
        ++readouts;
    EXPECT_EQ(readouts, 3u) << listed.out;
    const std::string attempts = "\"attempts\": ";
    for (std::size_t at = listed.out.find(attempts); at != std::string::npos; at = listed.out.find(attempts, at + 1))
        EXPECT_GE(std::atoi(listed.out.c_str() + at + attempts.size()), 6) << listed.out; // each try counted
    EXPECT_NE(listed.out.find(db.postgres() ? "read-only" : "disk is full"), std::string::npos) << listed.out;

    const ShellRun stillRefused = RunShell(spool + " --retry");
    EXPECT_EQ(stillRefused.exitCode, 1);
    refuse(db, false);
    const ShellRun retried = RunShell(spool + " --retry");
    EXPECT_EQ(retried.exitCode, 0);
    EXPECT_EQ(retried.out, "[]\n");
    EXPECT_EQ(RecordsRepository::open(db.urlText())->readouts("17-000101").size(), 4u);
    fs::remove_all(work);
}

INSTANTIATE_TEST_SUITE_P(Backends, SpoolUnderRefusal, ::testing::Values("sqlite", "postgres"));

// Neither the database nor the spool can be written: records are held, nothing crashes.
// The notes are told outside the recorder's lock: a listener may ask it back.
TEST(StationRecorder, NoWritableSpoolHoldsRecordsInMemory) {
    EnsureQtCore();
    Log log;
    StationRecorder recorder("sqlite:/proc/no-such-folder/records.sqlite", "/proc/no-such-folder/spool.sqlite",
                             {"station-1", "tech"});
    recorder.setNotify([&](const std::string& line) {
        const std::int64_t waiting = recorder.waiting(); // under the lock, this hung
        std::lock_guard<std::mutex> lock(log.mutex);
        log.lines.push_back(line);
        EXPECT_GE(waiting, 0);
    });
    recorder.parametersArrived(Params("1.000E-03", "1.0E-06"));
    recorder.parametersArrived(ReadParameterSet("no parameters here"));
    recorder.waitIdle();
    EXPECT_EQ(recorder.waiting(), 1);
    EXPECT_EQ(log.count("held in memory"), 1);
    EXPECT_EQ(log.count("cannot be written"), 1);

    // The window in Russian: the recorder's own words follow it.
    recorder.setLanguage(Language::Russian);
    recorder.parametersArrived(Params("1.000E-03", "2.0E-06"));
    recorder.waitIdle();
    EXPECT_EQ(log.count("Записей, ожидающих базу учёта доз: 2."), 1);
}

} // namespace
} // namespace dm::records::test
