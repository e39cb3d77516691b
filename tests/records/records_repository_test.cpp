// The records repository, the same cases on SQLite and on PostgreSQL.
#include "records_backends.h"

#include "records/utc_time.h"

#include <QSqlDatabase>
#include <QSqlQuery>

namespace dm::records {
namespace {

using test::ScratchDatabase;

std::int64_t T(const char* text) { return *ParseUtcTime(text); }

ReadoutInput Readout(const std::string& serial, const char* at, std::optional<double> total) {
    ReadoutInput r;
    r.serial = serial;
    r.model = "KRT-17A";
    r.at = T(at);
    r.origin = {"station-1", "ivanova"};
    r.totalDose = total;
    for (int i = 0; i < 24; ++i)
        r.parameters.push_back({"param_" + std::to_string(i), std::to_string(i * 7)});
    if (total) // without one the reply had no total ("no-dose"; an empty one is "invalid-dose")
        r.parameters.push_back({"total_val", std::to_string(*total)});
    return r;
}

class Repository : public ::testing::TestWithParam<std::string> {
protected:
    ScratchDatabase db_{GetParam()};
};

TEST_P(Repository, ReadoutKeepsEveryValueAsReceivedAndARepeatIsANoOp) {
    DM_REQUIRE_BACKEND(db_);
    auto repo = RecordsRepository::open(db_.url());
    ReadoutInput r = Readout("17-004217", "2026-03-01T08:00:00Z", 0.0012);
    // Reply files are untrusted: quotes, SQL and non-ASCII text come back verbatim.
    r.parameters.push_back({"owner'); DROP TABLE readouts; --", "Иванова \"О'Нил\" ?"});
    const Stored first = repo->addReadout(r);
    EXPECT_TRUE(first.isNew);

    r.origin.station = "another station"; // the same serial and time: the first one stays
    const Stored again = repo->addReadout(r);
    EXPECT_FALSE(again.isNew);
    EXPECT_EQ(again.id, first.id);

    const auto params = repo->readoutParameters(first.id);
    ASSERT_EQ(params.size(), r.parameters.size());
    EXPECT_EQ(params.back().key, r.parameters.back().key);
    EXPECT_EQ(params.back().raw, r.parameters.back().raw);
    const auto readouts = repo->readouts("17-004217");
    ASSERT_EQ(readouts.size(), 1u);
    EXPECT_EQ(readouts[0].origin.station, "station-1");
    EXPECT_DOUBLE_EQ(*readouts[0].totalDose, 0.0012);

    // Reopening finds the schema in place and the data kept.
    repo.reset();
    repo = RecordsRepository::open(db_.urlText());
    EXPECT_EQ(repo->schemaVersion(), RecordsRepository::currentSchemaVersion());
    EXPECT_EQ(repo->readouts("17-004217").size(), 1u);
}

TEST_P(Repository, ReadoutsCarryTheDoseAccountingAndDosimetersSummarise) {
    DM_REQUIRE_BACKEND(db_);
    auto repo = RecordsRepository::open(db_.url());
    const std::string s = "17-000001";
    // Stored out of order on purpose: the accounting goes by time.
    repo->addReadout(Readout(s, "2026-01-10T00:00:00Z", 0.0030));
    repo->addReadout(Readout(s, "2026-01-01T00:00:00Z", 0.0010));
    repo->addReadout(Readout(s, "2026-01-05T00:00:00Z", 0.0025));
    repo->addErase({s, T("2026-01-10T00:00:00Z") + 60, {"st", "op"}, 0.0030});
    repo->addReadout(Readout(s, "2026-01-20T00:00:00Z", 0.0004)); // after the erase
    repo->addReadout(Readout(s, "2026-01-25T00:00:00Z", 0.0001)); // dropped, no erase
    repo->addReadout(Readout(s, "2026-01-26T00:00:00Z", std::nullopt));
    repo->addReadout(Readout(s, "2026-01-27T00:00:00Z", 0.0003));
    repo->addErase({"52-000009", T("2026-01-02T00:00:00Z"), {"st", "op"}, std::nullopt});

    const auto list = repo->readouts(s);
    ASSERT_EQ(list.size(), 7u);
    std::vector<std::string> flags;
    std::vector<double> increments;
    for (const auto& r : list) {
        flags.push_back(r.accounted.flags.empty() ? "" : r.accounted.flags[0]);
        increments.push_back(r.accounted.increment.value_or(-1));
    }
    EXPECT_EQ(flags, (std::vector<std::string>{"baseline", "", "", "after-erase", "reset", "no-dose", ""}));
    const std::vector<double> expected{0, 0.0015, 0.0005, 0.0004, 0.0001, -1, 0.0002};
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(increments[i], expected[i], 1e-12) << "readout " << i;

    const auto dosimeters = repo->dosimeters();
    ASSERT_EQ(dosimeters.size(), 2u);
    EXPECT_EQ(dosimeters[0].serial, "17-000001");
    EXPECT_EQ(dosimeters[0].readouts, 7);
    EXPECT_EQ(*dosimeters[0].firstSeen, T("2026-01-01T00:00:00Z"));
    EXPECT_DOUBLE_EQ(*dosimeters[0].totalDose, 0.0003);
    EXPECT_EQ(dosimeters[1].serial, "52-000009"); // an erase alone makes it known
    EXPECT_FALSE(dosimeters[1].model || dosimeters[1].lastSeen || dosimeters[1].totalDose);

    EXPECT_THROW(
        {
            try {
                repo->readouts("no-such-serial");
            } catch (const RecordsError& e) {
                EXPECT_EQ(e.kind(), RecordsError::Kind::UnknownSerial);
                throw;
            }
        },
        RecordsError);
}

TEST_P(Repository, AuditTrailAndHistoryDownloadsComeBackInOrder) {
    DM_REQUIRE_BACKEND(db_);
    auto repo = RecordsRepository::open(db_.url());
    const std::string s = "17-000002";
    repo->addChanges({s, T("2026-02-02T10:00:00Z"), {"st", "op"},
                      {{"history_time", "60", "120", true}, {"alarm", "1e-3", "2e-3", false}}});
    repo->addErase({s, T("2026-02-01T10:00:00Z"), {"st", "op"}, 0.25});
    const auto history = repo->history(s);
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0].action, "erase");
    EXPECT_EQ(history[1].action, "send-changes");
    ASSERT_EQ(history[1].changes.size(), 2u);
    EXPECT_EQ(history[1].changes[1].after, "2e-3");
    EXPECT_FALSE(history[1].changes[1].taken);

    HistoryDownloadInput h{s, T("2026-02-03T10:00:00Z"), {"st", "op"}, 60.0, 'A', {}};
    h.records.push_back({ArchiveRecord::Section::Gamma, 1, 60, "1.5E-06", 1.5e-6, ""});
    h.records.push_back({ArchiveRecord::Section::Neutron, 1, 3600, "2E-07", 2e-7, "1.1"});
    EXPECT_TRUE(repo->addHistoryDownload(h).isNew);
    EXPECT_FALSE(repo->addHistoryDownload(h).isNew);
    h.at += 3600; // an overlapping later download is a download of its own
    h.records.push_back({ArchiveRecord::Section::Gamma, 2, std::nullopt, "x", 0, ""});
    EXPECT_TRUE(repo->addHistoryDownload(h).isNew);
    const auto downloads = repo->historyDownloads(s);
    ASSERT_EQ(downloads.size(), 2u);
    EXPECT_EQ(downloads[0].records.size(), 2u);
    ASSERT_EQ(downloads[1].records.size(), 3u);
    EXPECT_EQ(downloads[1].records[2].section, ArchiveRecord::Section::Neutron);
    EXPECT_EQ(downloads[1].records[2].coefficient, "1.1");
    EXPECT_FALSE(downloads[1].records[1].seconds.has_value());
}

TEST_P(Repository, DatabaseOfANewerSchemaIsRefusedAndLeftAlone) {
    DM_REQUIRE_BACKEND(db_);
    RecordsRepository::open(db_.url())->addReadout(Readout("1", "2026-01-01T00:00:00Z", 1.0));
    {
        QSqlDatabase raw = QSqlDatabase::addDatabase(db_.postgres() ? "QPSQL" : "QSQLITE", "newer");
        const DatabaseUrl& u = db_.url();
        raw.setDatabaseName(QString::fromStdString(db_.postgres() ? u.databaseName : u.path));
        raw.setHostName(QString::fromStdString(u.socketDir.empty() ? u.host : u.socketDir));
        raw.setPort(u.port);
        raw.setUserName(QString::fromStdString(u.user));
        ASSERT_TRUE(raw.open());
        ASSERT_TRUE(QSqlQuery(raw).exec("UPDATE schema_version SET version = 99"));
        raw.close();
    }
    QSqlDatabase::removeDatabase("newer");
    try {
        RecordsRepository::open(db_.url());
        FAIL() << "a newer schema was opened";
    } catch (const RecordsError& e) {
        EXPECT_EQ(e.kind(), RecordsError::Kind::NewerSchema);
        EXPECT_NE(std::string(e.what()).find("newer version"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, Repository, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

} // namespace
} // namespace dm::records
