// The records store against the floor of bare SQL on the same SQLite database:
//   storing one readout of 25 parameters vs a bare prepared INSERT of the same rows in one
//   transaction;
//   the readouts of one dosimeter with their increments, from 1,000,000 readouts of 10,000
//   dosimeters, vs a bare indexed SELECT of the same rows.
// The big database is built once (bulk inserts in one transaction) and kept in the temp
// folder for later runs.
#include "records/records_repository.h"
#include "records/station_recorder.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
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

// What the window's thread pays when parameters arrive: reading the reply and putting it
// into the spool, synced, before its file may go; the recorder's thread sends it on to
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
        for (auto _ : state)
            recorder.parametersArrived(reply);
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
    const fs::path dir = fs::temp_directory_path() / "dm-bench-records-big";
    const fs::path file = dir / "records-1m.sqlite";
    path = file.string();
    if (fs::exists(file))
        return path;
    fs::create_directories(dir);
    const std::string building = (dir / "building.sqlite").string();
    fs::remove(building);
    RecordsRepository::open("sqlite:" + building); // the schema
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
    fs::rename(building, file);
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

} // namespace
