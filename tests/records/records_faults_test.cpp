// The records store under faults: a station killed in the middle of writes, two stations
// writing one PostgreSQL database at once, and files that must be left alone.
#include "records_backends.h"

#include "core/text_file.h"

#include <QSqlDatabase>
#include <QSqlQuery>

#include <csignal>
#include <random>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dm::records {
namespace {

using test::ScratchDatabase;

constexpr int kParameters = 25;
constexpr int kArchiveRecords = 50;

ReadoutInput Readout(const std::string& serial, std::int64_t at) {
    ReadoutInput r{serial, "MLV-52B", at, {"station", "operator"}, 1e-6 * static_cast<double>(at % 1000), {}};
    for (int i = 0; i < kParameters; ++i)
        r.parameters.push_back({"key_" + std::to_string(i), "value " + std::to_string(at)});
    return r;
}

HistoryDownloadInput Download(const std::string& serial, std::int64_t at) {
    HistoryDownloadInput h{serial, at, {"station", "operator"}, 60.0, 'B', {}};
    for (int i = 1; i <= kArchiveRecords; ++i)
        h.records.push_back({ArchiveRecord::Section::Gamma, i, std::nullopt, "1E-06", 1e-6, ""});
    return h;
}

long long Scalar(QSqlDatabase& db, const char* sql) {
    QSqlQuery q(db);
    if (!q.exec(sql) || !q.next())
        return -1;
    return q.value(0).toLongLong();
}

// A child that stores readouts and downloads until killed, reporting each write on `out`.
[[noreturn]] void WriteUntilKilled(const DatabaseUrl& url, int out, int round) {
    try {
        auto repo = RecordsRepository::open(url);
        for (std::int64_t i = 0;; ++i) {
            const std::int64_t at = round * 1'000'000 + i;
            if (i % 2)
                repo->addHistoryDownload(Download("K1", at));
            else
                repo->addReadout(Readout("K" + std::to_string(i % 7), at));
            if (::write(out, "w", 1) != 1)
                ::_exit(3);
        }
    } catch (...) {
        ::_exit(2);
    }
}

TEST(RecordsFaults, StationKilledMidWriteLeavesEachWriteWholeOrAbsent) {
    ScratchDatabase db("sqlite");
    std::mt19937 random(::testing::UnitTest::GetInstance()->random_seed());
    long long readoutsBefore = 0;
    for (int round = 1; round <= 6; ++round) {
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(pipeFds[0]);
            WriteUntilKilled(db.url(), pipeFds[1], round);
        }
        ::close(pipeFds[1]);
        // Let it get going, then kill it at a random moment inside its next writes.
        const int writes = 1 + static_cast<int>(random() % 20);
        char c;
        for (int i = 0; i < writes; ++i)
            ASSERT_EQ(::read(pipeFds[0], &c, 1), 1) << "the writer died on its own";
        ::usleep(static_cast<useconds_t>(random() % 4000));
        ASSERT_EQ(::kill(pid, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status));
        ::close(pipeFds[0]);

        {
            QSqlDatabase raw = QSqlDatabase::addDatabase("QSQLITE", "killed");
            raw.setDatabaseName(QString::fromStdString(db.url().path));
            ASSERT_TRUE(raw.open());
            QSqlQuery check(raw);
            ASSERT_TRUE(check.exec("PRAGMA integrity_check") && check.next());
            EXPECT_EQ(check.value(0).toString(), "ok");
            EXPECT_EQ(Scalar(raw, "SELECT COUNT(*) FROM readouts r WHERE (SELECT COUNT(*) FROM"
                                  " readout_parameters p WHERE p.readout_id = r.id) <> 25"),
                      0);
            EXPECT_EQ(Scalar(raw, "SELECT COUNT(*) FROM history_downloads h WHERE (SELECT COUNT(*) FROM"
                                  " history_records r WHERE r.download_id = h.id) <> 50"),
                      0);
            const long long readouts = Scalar(raw, "SELECT COUNT(*) FROM readouts");
            EXPECT_GE(readouts, readoutsBefore + writes / 2) << "acknowledged writes were lost";
            readoutsBefore = readouts;
            raw.close();
        }
        QSqlDatabase::removeDatabase("killed");
    }
    // And the next station carries on.
    EXPECT_TRUE(RecordsRepository::open(db.url())->addReadout(Readout("K1", 99'000'000)).isNew);
}

TEST(RecordsFaults, TwoStationsImportingIntoOnePostgresDatabaseStoreEachReadoutOnce) {
    ScratchDatabase db("postgresql");
    DM_REQUIRE_BACKEND(db);
    // Both start on an empty database, so they also race to create the schema.
    pid_t children[2];
    for (int k = 0; k < 2; ++k) {
        children[k] = ::fork();
        ASSERT_GE(children[k], 0);
        if (children[k] == 0) {
            try {
                auto repo = RecordsRepository::open(db.url());
                for (int i = k * 250; i < k * 250 + 500; ++i)
                    repo->addReadout(Readout("P" + std::to_string(i % 20), 1'700'000'000 + i));
                ::_exit(0);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "importer %d: %s\n", k, e.what());
                ::_exit(1);
            }
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    auto repo = RecordsRepository::open(db.url());
    std::size_t readouts = 0;
    for (const auto& d : repo->dosimeters())
        readouts += repo->readouts(d.serial).size();
    EXPECT_EQ(readouts, 750u); // 2 x 500 with 250 in common
    EXPECT_EQ(repo->dosimeters().size(), 20u);
    const auto some = repo->readouts("P7");
    ASSERT_FALSE(some.empty());
    EXPECT_EQ(repo->readoutParameters(some.back().id).size(), static_cast<std::size_t>(kParameters));
}

TEST(RecordsFaults, ForeignAndNewerFilesAreRefusedByteForByteUntouched) {
    ScratchDatabase db("sqlite");
    const std::string path = db.url().path;
    auto expectRefused = [&](RecordsError::Kind kind) {
        const auto before = TryReadFile(path);
        try {
            RecordsRepository::open(db.url());
            ADD_FAILURE() << "opened";
        } catch (const RecordsError& e) {
            EXPECT_EQ(e.kind(), kind) << e.what();
        }
        EXPECT_EQ(TryReadFile(path), before);
        EXPECT_FALSE(std::filesystem::exists(path + "-wal"));
    };

    RecordsRepository::open(db.url()); // makes the folder and the file, owner only
    struct stat st{};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(std::filesystem::path(path).parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    {
        QSqlDatabase raw = QSqlDatabase::addDatabase("QSQLITE", "edit");
        raw.setDatabaseName(QString::fromStdString(path));
        ASSERT_TRUE(raw.open());
        ASSERT_TRUE(QSqlQuery(raw).exec("UPDATE schema_version SET version = 7"));
        ASSERT_TRUE(QSqlQuery(raw).exec("PRAGMA wal_checkpoint(TRUNCATE)"));
        raw.close();
    }
    QSqlDatabase::removeDatabase("edit");
    std::filesystem::remove(path + "-wal");
    std::filesystem::remove(path + "-shm");
    expectRefused(RecordsError::Kind::NewerSchema);

    ASSERT_TRUE(WriteFileAtomically(path, "name,dose\r\nIvanova,0.002\r\n"));
    expectRefused(RecordsError::Kind::NotADatabase);
}

} // namespace
} // namespace dm::records
