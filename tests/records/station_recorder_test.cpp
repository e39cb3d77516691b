// A station's recorder through a PostgreSQL outage: a server of the test's own is stopped
// while readouts, a change, a download and an erase arrive, then started again; the
// spool empties into it in order, and a replayed spool stores nothing twice.
#include "core/cp1251.h"
#include "records/station_recorder.h"
#include "records_backends.h"

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

std::string Params(const std::string& threshold, const std::string& total) {
    return "serial_number = 17-000101\r\nmodel = neutron\r\ntotal_val = " + total +
           "\r\ndose_threshold = " + threshold + "\r\n";
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
        EXPECT_FALSE(fs::exists(spoolFile)); // no spool while the database takes everything

        ASSERT_TRUE(server.pause());
        recorder.changesSent({Utf8ToCp1251("dose_threshold = 2.000E-03\r\n\r\nget_parameters=255\r\n#\r\n")});
        now += 5;
        recorder.parametersArrived(Params("2.000E-03", "1.5E-06")); // took it
        recorder.archiveArrived(Cp1251ToUtf8(ReadText(DM_TEST_DATA "/archive-krt17a.txt")), 1.0);
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
        spool.append(*ReadoutFromParameters(ReadParameterSet(Params("2.000E-03", "1.5E-06")), 1'800'000'005,
                                            {"station-1", "tech"}));
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

// Neither the database nor the spool can be written: records are held, nothing crashes.
TEST(StationRecorder, NoWritableSpoolHoldsRecordsInMemory) {
    EnsureQtCore();
    Log log;
    StationRecorder recorder("sqlite:/proc/no-such-folder/records.sqlite", "/proc/no-such-folder/spool.sqlite",
                             {"station-1", "tech"});
    recorder.setNotify([&](const std::string& line) {
        std::lock_guard<std::mutex> lock(log.mutex);
        log.lines.push_back(line);
    });
    recorder.parametersArrived(Params("1.000E-03", "1.0E-06"));
    recorder.parametersArrived("no parameters here");
    recorder.waitIdle();
    EXPECT_EQ(recorder.waiting(), 1);
    EXPECT_EQ(log.count("held in memory"), 1);
    EXPECT_EQ(log.count("cannot be written"), 1);

    // The window in Russian: the recorder's own words follow it.
    recorder.setLanguage(300);
    recorder.parametersArrived(Params("1.000E-03", "2.0E-06"));
    recorder.waitIdle();
    EXPECT_EQ(log.count("Записей, ожидающих базу учёта доз: 2."), 1);
}

} // namespace
} // namespace dm::records::test
