// The yearly dose of every wearer, from 1,000,000 readouts of 10,000 dosimeters worn by
// 10,000 wearers (resets, erases and hand-overs among them), against the floor of a bare
// indexed SQL sum of the same year's readouts, on SQLite. All are timed in each
// iteration; "ratio" is accounting time / bare indexed sum time, "ratio_to_scan" the same
// against a bare sum that reads the whole table in order (the faster floor for a period
// that holds most of the table). The database is built once
// and kept in the temp folder for later runs.
#include "records/dose_of_record.h"
#include "records/utc_time.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <benchmark/benchmark.h>

#include "bench_database_cache.h"

#include <chrono>
#include <filesystem>
#include <string>

namespace {

using namespace dm::records;
namespace fs = std::filesystem;

void EnsureQtCore() { EnsureQtCoreApplication("bench_dose_of_record"); }

bool Exec(QSqlDatabase& db, const std::string& sql) {
    QSqlQuery q(db);
    return q.exec(QString::fromStdString(sql));
}

const std::string& Database() {
    static std::string path;
    if (!path.empty())
        return path;
    EnsureQtCore();
    path = dm::bench::CachedDatabase("dm-bench-dose-of-record", "records-1m-wearers", [](const std::string& building) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bulk"));
            db.setDatabaseName(QString::fromStdString(building));
            db.open();
            const std::string start = std::to_string(*ParseUtcTime("2025-12-20T00:00:00Z"));
            const std::string handOver = std::to_string(*ParseUtcTime("2026-06-01T12:00:00Z"));
            const std::string series = "WITH RECURSIVE d(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM d WHERE n < 10000),"
                                       " i(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM i WHERE k < 99) ";
            Exec(db, "PRAGMA synchronous = OFF");
            Exec(db, "BEGIN");
            Exec(db, series + "INSERT INTO dosimeters (id, serial) SELECT n, printf('17-%06d', n) FROM d");
            Exec(db, series + "INSERT INTO wearers (id, name) SELECT printf('W-%05d', n), printf('Wearer %d', n) FROM d");
            // Every 37th readout the counter drops: after an erase on even dosimeters, a reset on odd.
            Exec(db, series + "INSERT INTO readouts (dosimeter_id, taken_at, station, operator_name, model, total_dose)"
                              " SELECT n, " + start + " + k * 300000 + n, 'station', 'operator', 'KRT-17A',"
                              " ((k % 37) + 1) * 1e-5 + (n % 7) * 1e-6 FROM d, i");
            Exec(db, series + "INSERT INTO erase_events (dosimeter_id, taken_at, station, operator_name)"
                              " SELECT n, " + start + " + k * 300000 + n - 60, 'station', 'operator' FROM d, i"
                              " WHERE k % 37 = 0 AND k > 0 AND n % 2 = 0");
            // Each dosimeter worn by its own wearer; every tenth handed over mid-year to another.
            Exec(db, series + "INSERT INTO assignments (dosimeter_id, wearer_id, from_at, until_at)"
                              " SELECT n, printf('W-%05d', n), " + start + " - 86400,"
                              " CASE WHEN n % 10 = 0 THEN " + handOver + " END FROM d");
            Exec(db, series + "INSERT INTO assignments (dosimeter_id, wearer_id, from_at)"
                              " SELECT n, printf('W-%05d', n % 10000 + 1), " + handOver + " FROM d WHERE n % 10 = 0");
            Exec(db, "COMMIT");
            Exec(db, "ANALYZE");
            Exec(db, "PRAGMA wal_checkpoint(TRUNCATE)");
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("bulk"));
    });
    return path;
}

void BM_YearlyDoseOfEveryWearer(benchmark::State& state) {
    const std::string& path = Database();
    auto repo = RecordsRepository::open("sqlite:" + path);
    const DoseOfRecord records(*repo);
    const UtcSeconds from = YearStart(2026), to = YearStart(2027);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bare-sum"));
    db.setDatabaseName(QString::fromStdString(path));
    db.open();
    double accountingSeconds = 0, bareSeconds = 0, scanSeconds = 0;
    std::size_t wearers = 0;
    {
        QSqlQuery scan(db);
        scan.setForwardOnly(true);
        scan.prepare(QStringLiteral("SELECT SUM(total_dose) FROM readouts NOT INDEXED WHERE taken_at >= ? AND taken_at < ?"));
        QSqlQuery bare(db);
        bare.setForwardOnly(true);
        bare.prepare(QStringLiteral("SELECT SUM(total_dose) FROM readouts WHERE taken_at >= ? AND taken_at < ?"));
        for (auto _ : state) {
            using Clock = std::chrono::steady_clock;
            const auto t0 = Clock::now();
            const auto doses = records.dosesByWearer(from, to);
            const auto t1 = Clock::now();
            bare.bindValue(0, static_cast<qlonglong>(from));
            bare.bindValue(1, static_cast<qlonglong>(to));
            bare.exec();
            bare.next();
            benchmark::DoNotOptimize(bare.value(0).toDouble());
            bare.finish();
            const auto t2 = Clock::now();
            scan.bindValue(0, static_cast<qlonglong>(from));
            scan.bindValue(1, static_cast<qlonglong>(to));
            scan.exec();
            scan.next();
            benchmark::DoNotOptimize(scan.value(0).toDouble());
            scan.finish();
            scanSeconds += std::chrono::duration<double>(Clock::now() - t2).count();
            const double accounting = std::chrono::duration<double>(t1 - t0).count();
            accountingSeconds += accounting;
            bareSeconds += std::chrono::duration<double>(t2 - t1).count();
            state.SetIterationTime(accounting);
            wearers = doses.size();
        }
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("bare-sum"));
    state.counters["wearers"] = static_cast<double>(wearers);
    state.counters["bare_sum_ms"] = 1000.0 * bareSeconds / static_cast<double>(state.iterations());
    state.counters["ratio"] = bareSeconds > 0 ? accountingSeconds / bareSeconds : 0.0;
    state.counters["bare_scan_ms"] = 1000.0 * scanSeconds / static_cast<double>(state.iterations());
    state.counters["ratio_to_scan"] = scanSeconds > 0 ? accountingSeconds / scanSeconds : 0.0;
}
BENCHMARK(BM_YearlyDoseOfEveryWearer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
