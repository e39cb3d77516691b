// The records store against the floor of bare SQL on the same SQLite database:
//   storing one readout of 25 parameters vs a bare prepared INSERT of the same rows in one
//   transaction;
//   the readouts of one dosimeter with their increments, from 1,000,000 readouts of 10,000
//   dosimeters, vs a bare indexed SELECT of the same rows;
//   a batch import of 10,000 readouts of a real parameter reply (100 dosimeters) in one
//   transaction vs a bare prepared INSERT of the same rows in one transaction, both timed
//   in each iteration ("ratio"); on SQLite, and on PostgreSQL when DM_BENCH_PG_URL names
//   a database to use.
// The big database is built once (bulk inserts in one transaction) and kept in the temp
// folder for later runs.
#include "records/capture.h"
#include "records/records_repository.h"
#include "records/station_recorder.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <benchmark/benchmark.h>

#include "bench_database_cache.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>

namespace {

using namespace dm::records;
namespace fs = std::filesystem;

constexpr int kParameters = 25;
constexpr int kDosimeters = 10'000;
constexpr int kReadoutsEach = 100;

void EnsureQtCore() { EnsureQtCoreApplication("bench_records"); }

QSqlDatabase Raw(const std::string& path, const QString& name) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(QString::fromStdString(path));
    db.open();
    QSqlQuery(db).exec(QStringLiteral("PRAGMA journal_mode = WAL"));
    QSqlQuery(db).exec(QStringLiteral("PRAGMA synchronous = FULL"));
    QSqlQuery(db).exec(QStringLiteral("PRAGMA foreign_keys = ON"));
    return db;
}

fs::path FreshFolder(const std::string& name) {
    const fs::path dir = fs::temp_directory_path() / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

ReadoutInput Readout(std::int64_t at) {
    ReadoutInput r{"17-004217", "KRT-17A", at, {"station-1", "operator"}, 1.5e-3, {}};
    for (int i = 0; i < kParameters; ++i)
        r.parameters.push_back({"parameter_" + std::to_string(i), "1.25E-03"});
    return r;
}

void BM_StoreReadout(benchmark::State& state) {
    EnsureQtCore();
    const fs::path dir = FreshFolder("dm-bench-records-store");
    auto repo = RecordsRepository::open("sqlite:" + (dir / "records.sqlite").string());
    std::int64_t at = 1'700'000'000;
    for (auto _ : state)
        benchmark::DoNotOptimize(repo->addReadout(Readout(++at)));
    repo.reset();
    fs::remove_all(dir);
}
BENCHMARK(BM_StoreReadout)->Unit(benchmark::kMicrosecond);

// What the window's thread pays when parameters arrive: capturing the reading (parsed
// once, at the exchange) and putting it into the spool, synced, before its file may go; the recorder's thread sends it on to
// the database meanwhile (that write is BM_StoreReadout).
void BM_WindowHandsOverReadout(benchmark::State& state) {
    EnsureQtCore();
    const fs::path dir = FreshFolder("dm-bench-records-recorder");
    std::string reply = "serial_number = 17-004217\r\n";
    for (int i = 1; i < kParameters; ++i)
        reply += "parameter_" + std::to_string(i) + " = 1.25E-03\r\n";
    std::int64_t at = 1'700'000'000;
    {
        StationRecorder recorder("sqlite:" + (dir / "records.sqlite").string(), dir / "spool.sqlite",
                                 {"station-1", "operator"}, [&] { return ++at; });
        const dm::ParameterSet reading = dm::ReadParameterSet(reply); // parsed once, at the exchange
        for (auto _ : state)
            recorder.parametersArrived(reading);
        recorder.waitIdle();
    }
    fs::remove_all(dir);
}
BENCHMARK(BM_WindowHandsOverReadout)->Unit(benchmark::kMicrosecond)->Iterations(2000);

void BM_BareInsertReadout(benchmark::State& state) {
    EnsureQtCore();
    const fs::path dir = FreshFolder("dm-bench-records-bare");
    const std::string path = (dir / "records.sqlite").string();
    RecordsRepository::open("sqlite:" + path)->addReadout(Readout(1)); // the schema and one dosimeter
    {
        QSqlDatabase db = Raw(path, QStringLiteral("bare-insert"));
        QSqlQuery readout(db), parameter(db);
        readout.prepare(QStringLiteral("INSERT INTO readouts (dosimeter_id, taken_at, station, operator_name,"
                                       " model, total_dose) VALUES (1, ?, ?, ?, ?, ?)"));
        parameter.prepare(QStringLiteral("INSERT INTO readout_parameters (readout_id, position, key, raw_value)"
                                         " VALUES (?, ?, ?, ?)"));
        const ReadoutInput r = Readout(0);
        std::int64_t at = 1'700'000'000;
        for (auto _ : state) {
            QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE"));
            readout.bindValue(0, static_cast<qlonglong>(++at));
            readout.bindValue(1, QString::fromStdString(r.origin.station));
            readout.bindValue(2, QString::fromStdString(r.origin.operatorName));
            readout.bindValue(3, QString::fromStdString(r.model));
            readout.bindValue(4, *r.totalDose);
            readout.exec();
            const QVariant id = readout.lastInsertId();
            int position = 0;
            for (const StoredParameter& p : r.parameters) {
                parameter.bindValue(0, id);
                parameter.bindValue(1, ++position);
                parameter.bindValue(2, QString::fromStdString(p.key));
                parameter.bindValue(3, QString::fromStdString(p.raw));
                parameter.exec();
            }
            QSqlQuery(db).exec(QStringLiteral("COMMIT"));
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bare-insert"));
    fs::remove_all(dir);
}
BENCHMARK(BM_BareInsertReadout)->Unit(benchmark::kMicrosecond);

// 1,000,000 readouts of 10,000 dosimeters, an erase now and then; built once.
const std::string& BigDatabase() {
    static std::string path;
    if (!path.empty())
        return path;
    EnsureQtCore();
    path = dm::bench::CachedDatabase("dm-bench-records-big", "records-1m", [](const std::string& building) {
        {
            QSqlDatabase db = Raw(building, QStringLiteral("bulk"));
            QSqlQuery(db).exec(QStringLiteral("PRAGMA synchronous = OFF"));
            QSqlQuery(db).exec(QStringLiteral("BEGIN"));
            QSqlQuery dosimeter(db), readout(db), erase(db);
            dosimeter.prepare(QStringLiteral("INSERT INTO dosimeters (id, serial) VALUES (?, ?)"));
            readout.prepare(QStringLiteral("INSERT INTO readouts (dosimeter_id, taken_at, station, operator_name,"
                                           " model, total_dose) VALUES (?, ?, 'station', 'operator', 'KRT-17A', ?)"));
            erase.prepare(QStringLiteral("INSERT INTO erase_events (dosimeter_id, taken_at, station, operator_name)"
                                         " VALUES (?, ?, 'station', 'operator')"));
            std::mt19937 random(17);
            for (int d = 1; d <= kDosimeters; ++d) {
                dosimeter.bindValue(0, d);
                dosimeter.bindValue(1, QStringLiteral("17-%1").arg(d, 6, 10, QLatin1Char('0')));
                dosimeter.exec();
                double total = 0;
                for (int i = 0; i < kReadoutsEach; ++i) {
                    const qlonglong at = 1'600'000'000LL + i * 86'400LL + d;
                    if (i % 37 == 36) {
                        erase.bindValue(0, d);
                        erase.bindValue(1, at - 60);
                        erase.exec();
                        total = 0;
                    }
                    total += 1e-6 * static_cast<double>(random() % 1000);
                    readout.bindValue(0, d);
                    readout.bindValue(1, at);
                    readout.bindValue(2, total);
                    readout.exec();
                }
            }
            QSqlQuery(db).exec(QStringLiteral("COMMIT"));
            QSqlQuery(db).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("bulk"));
    });
    return path;
}

std::string Serial(int d) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "17-%06d", d);
    return buffer;
}

void BM_ReadoutsWithIncrements(benchmark::State& state) {
    auto repo = RecordsRepository::open("sqlite:" + BigDatabase());
    std::mt19937 random(3);
    for (auto _ : state) {
        const auto list = repo->readouts(Serial(1 + static_cast<int>(random() % kDosimeters)));
        benchmark::DoNotOptimize(list.data());
    }
}
BENCHMARK(BM_ReadoutsWithIncrements)->Unit(benchmark::kMicrosecond);

void BM_BareIndexedSelect(benchmark::State& state) {
    const std::string& path = BigDatabase();
    {
        QSqlDatabase db = Raw(path, QStringLiteral("bare-select"));
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(QStringLiteral("SELECT r.id, r.taken_at, r.station, r.operator_name, r.total_dose FROM readouts r"
                                 " JOIN dosimeters d ON d.id = r.dosimeter_id WHERE d.serial = ?"
                                 " ORDER BY r.taken_at"));
        std::mt19937 random(3);
        for (auto _ : state) {
            q.bindValue(0, QString::fromStdString(Serial(1 + static_cast<int>(random() % kDosimeters))));
            q.exec();
            std::size_t rows = 0;
            while (q.next()) {
                benchmark::DoNotOptimize(q.value(4).toDouble());
                ++rows;
            }
            benchmark::DoNotOptimize(rows);
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bare-select"));
}
BENCHMARK(BM_BareIndexedSelect)->Unit(benchmark::kMicrosecond);

// ---- batch import

constexpr int kBatch = 10'000;
constexpr int kBatchDosimeters = 100;

// 10,000 readouts of the KRT-17A reply in the test data, each with its own serial (one of
// 100), time and total; `round` keeps the serials of one run's iterations apart.
std::vector<ReadoutInput> BatchReadouts(int round) {
    std::ifstream in(DM_TEST_DATA "/params-krt17a.txt", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const dm::ParameterSet set = dm::ReadParameterSet(text.str());
    std::vector<ReadoutInput> out;
    out.reserve(kBatch);
    for (int i = 0; i < kBatch; ++i) {
        ReadoutInput r = *ReadoutFromParameters(set, 1'700'000'000 + i, {"station-1", "operator"});
        r.serial = "B" + std::to_string(round) + "-" + std::to_string(i % kBatchDosimeters);
        for (StoredParameter& p : r.parameters)
            if (p.key == "total_val")
                p.raw = std::to_string(i) + ".0E-06";
        r.totalDose = 1e-6 * i;
        out.push_back(std::move(r));
    }
    return out;
}

// The floor: the same rows through bare prepared INSERTs in one transaction.
void BareBulkInsert(QSqlDatabase& db, const std::vector<ReadoutInput>& readouts) {
    QSqlQuery(db).exec(QStringLiteral("BEGIN"));
    QSqlQuery dosimeter(db), readout(db), parameter(db);
    dosimeter.prepare(QStringLiteral("INSERT INTO dosimeters (serial) VALUES (?) RETURNING id"));
    readout.prepare(QStringLiteral("INSERT INTO readouts (dosimeter_id, taken_at, content_key, station,"
                                   " operator_name, model, total_dose, total_text) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"
                                   " RETURNING id"));
    parameter.prepare(QStringLiteral("INSERT INTO readout_parameters (readout_id, position, key, raw_value)"
                                     " VALUES (?, ?, ?, ?)"));
    std::map<std::string, QVariant> ids;
    for (const ReadoutInput& r : readouts) {
        QVariant& id = ids[r.serial];
        if (!id.isValid()) {
            dosimeter.bindValue(0, QString::fromStdString(r.serial));
            dosimeter.exec();
            dosimeter.next();
            id = dosimeter.value(0);
        }
        readout.bindValue(0, id);
        readout.bindValue(1, static_cast<qlonglong>(r.at));
        readout.bindValue(2, QString::number(r.at, 16).repeated(4)); // a key of a digest's length
        readout.bindValue(3, QString::fromStdString(r.origin.station));
        readout.bindValue(4, QString::fromStdString(r.origin.operatorName));
        readout.bindValue(5, QString::fromStdString(r.model));
        readout.bindValue(6, *r.totalDose);
        readout.bindValue(7, QString::fromStdString(r.parameters[4].raw));
        readout.exec();
        readout.next();
        const QVariant readoutId = readout.value(0);
        readout.finish();
        int position = 0;
        for (const StoredParameter& p : r.parameters) {
            parameter.bindValue(0, readoutId);
            parameter.bindValue(1, ++position);
            parameter.bindValue(2, QString::fromStdString(p.key));
            parameter.bindValue(3, QString::fromStdString(p.raw));
            parameter.exec();
        }
    }
    dosimeter.finish();
    QSqlQuery(db).exec(QStringLiteral("COMMIT"));
}

void ImportAgainstBulkInsert(benchmark::State& state, const std::string& url) {
    auto repo = RecordsRepository::open(url);
    // The floor's own connection to the same database, as the sqlite3 shell or psql would be.
    const QString connection = QStringLiteral("bare-bulk");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(
            repo->url().kind == DatabaseUrl::Kind::Postgres ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"),
            connection);
        const DatabaseUrl& u = repo->url();
        if (u.kind == DatabaseUrl::Kind::Postgres) {
            db.setHostName(QString::fromStdString(u.socketDir.empty() ? u.host : u.socketDir));
            db.setPort(u.port);
            db.setDatabaseName(QString::fromStdString(u.databaseName));
            db.setUserName(QString::fromStdString(u.user));
            db.setPassword(QString::fromStdString(u.password));
            db.open();
        } else {
            db.setDatabaseName(QString::fromStdString(u.path));
            db.open();
            QSqlQuery(db).exec(QStringLiteral("PRAGMA synchronous = FULL"));
            QSqlQuery(db).exec(QStringLiteral("PRAGMA foreign_keys = ON"));
        }
        int round = static_cast<int>(std::random_device{}() % 100'000) * 100;
        double store = 0, bare = 0;
        for (auto _ : state) {
            state.PauseTiming();
            const std::vector<ReadoutInput> ours = BatchReadouts(++round), floor = BatchReadouts(++round);
            state.ResumeTiming();
            const auto t0 = std::chrono::steady_clock::now();
            repo->addReadouts(ours);
            const auto t1 = std::chrono::steady_clock::now();
            BareBulkInsert(db, floor);
            const auto t2 = std::chrono::steady_clock::now();
            store += std::chrono::duration<double>(t1 - t0).count();
            bare += std::chrono::duration<double>(t2 - t1).count();
        }
        state.counters["store_s"] = store / static_cast<double>(state.iterations());
        state.counters["bare_s"] = bare / static_cast<double>(state.iterations());
        state.counters["ratio"] = store / bare;
    }
    QSqlDatabase::removeDatabase(connection);
}

void BM_ImportTenThousandReadoutsSqlite(benchmark::State& state) {
    EnsureQtCore();
    const fs::path dir = FreshFolder("dm-bench-records-batch");
    ImportAgainstBulkInsert(state, "sqlite:" + (dir / "records.sqlite").string());
    fs::remove_all(dir);
}
BENCHMARK(BM_ImportTenThousandReadoutsSqlite)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ImportTenThousandReadoutsPostgres(benchmark::State& state) {
    const char* url = std::getenv("DM_BENCH_PG_URL");
    if (!url || !*url) {
        state.SkipWithError("set DM_BENCH_PG_URL to a PostgreSQL database to measure there");
        for (auto _ : state) {
        }
        return;
    }
    EnsureQtCore();
    ImportAgainstBulkInsert(state, url);
}
BENCHMARK(BM_ImportTenThousandReadoutsPostgres)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
