// The PDF dose record of one wearer-year, 100,000 and 200,000 readouts (erases, a
// hand-back and hand-out, corrections among them), on SQLite, against two floors timed in
// the same iteration: reading those rows (id, time, total dose of the year's readouts of
// the wearer's dosimeter, through Qt SQL as the store reads them), and a bare painter that
// paints rows of ready texts (time, serial, two numbers, flags) page by page straight into
// QPdfWriter with nothing else. "ratio_to_read" = record / reading, "ratio_to_painter" =
// record / painter, in processor time (the shared machine's wall time mostly measures the
// other builds; "wall_ratio_*" are the same in wall time). The record's time is all of it:
// gathering from the database, wording, laying out and painting into memory (not the file
// write). The database is built once and kept in the temp folder for later runs.
#include "records/dose_report_pdf.h"
#include "records/utc_time.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <benchmark/benchmark.h>

#include "bench_database_cache.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <time.h>

namespace {

using namespace dm::records;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

void EnsureApp() {
    // Kept to the end of the process: destroying it after main would outlive Qt's own
    // globals.
    static QGuiApplication* app = nullptr;
    if (app)
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "bench_dose_report";
    static char* argv[] = {name, nullptr};
    app = new QGuiApplication(argc, argv);
}

bool Exec(QSqlDatabase& db, const std::string& sql) {
    QSqlQuery q(db);
    return q.exec(QString::fromStdString(sql));
}

// Wearer W-<n> wears dosimeter <n> all of 2026 (handed back and out again in June), read
// n times evenly over the year; an erase every 37th read, a correction every 1000th.
const std::string& Database() {
    static std::string path;
    if (!path.empty())
        return path;
    path = dm::bench::CachedDatabase("dm-bench-dose-report", "records-wearer-years", [](const std::string& building) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bulk"));
            db.setDatabaseName(QString::fromStdString(building));
            db.open();
            const std::string start = std::to_string(YearStart(2026));
            const std::string june = std::to_string(*ParseUtcTime("2026-06-01T12:00:00Z"));
            Exec(db, "PRAGMA synchronous = OFF");
            Exec(db, "BEGIN");
            for (const int n : {100000, 200000}) {
                const std::string id = std::to_string(n), step = std::to_string(365 * 86400 / n);
                const std::string series =
                    "WITH RECURSIVE i(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM i WHERE k < " + id + " - 1) ";
                Exec(db, "INSERT INTO dosimeters (id, serial) VALUES (" + id + ", '17-" + id + "')");
                Exec(db, "INSERT INTO wearers (id, name) VALUES ('W-" + id + "', 'Wearer " + id + "')");
                Exec(db, "INSERT INTO assignments (dosimeter_id, wearer_id, from_at, until_at) VALUES (" + id + ", 'W-" +
                             id + "', " + start + " - 86400, " + june + ")");
                Exec(db, "INSERT INTO assignments (dosimeter_id, wearer_id, from_at) VALUES (" + id + ", 'W-" + id +
                             "', " + june + " + 60)");
                Exec(db, series + "INSERT INTO readouts (dosimeter_id, taken_at, station, operator_name, model, total_dose)"
                                  " SELECT " + id + ", " + start + " + 1 + k * " + step +
                                  ", 'station', 'operator', 'KRT-17A', ((k % 37) + 1) * 1e-6 FROM i");
                Exec(db, series + "INSERT INTO erase_events (dosimeter_id, taken_at, station, operator_name, total_dose_before)"
                                  " SELECT " + id + ", " + start + " + 1 + k * " + step +
                                  " - 30, 'station', 'operator', 37e-6 FROM i WHERE k % 37 = 0 AND k > 0");
                Exec(db, "INSERT INTO readout_corrections (readout_id, total_dose, reason, corrected_by, corrected_at)"
                         " SELECT id, total_dose + 1e-7, 're-read by hand', 'officer', taken_at + 3600 FROM readouts"
                         " WHERE dosimeter_id = " + id + " AND id % 1000 = 0");
            }
            Exec(db, "COMMIT");
            Exec(db, "ANALYZE");
            Exec(db, "PRAGMA wal_checkpoint(TRUNCATE)");
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("bulk"));
    });
    return path;
}

struct TextRow {
    QString time, serial, total, increment, flags;
};

// The floor: ready texts painted row by row, a header per page, right-aligned numbers.
std::size_t BarePainter(const std::vector<TextRow>& rows) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setResolution(300);
        QPainter painter(&writer);
        QFont font = QGuiApplication::font();
        font.setPointSizeF(9);
        painter.setFont(font);
        const QFontMetricsF metrics(font, &writer);
        const qreal line = metrics.lineSpacing(), height = writer.height();
        const QString header = QStringLiteral("Time (UTC)  Dosimeter  Total dose, mSv  Increment, mSv  Notes");
        qreal y = height;
        for (const TextRow& r : rows) {
            if (y + line > height) {
                if (y < height)
                    writer.newPage();
                y = line;
                painter.drawText(QPointF(0, y), header);
                y += line;
            }
            painter.drawText(QPointF(0, y), r.time);
            painter.drawText(QPointF(500, y), r.serial);
            painter.drawText(QPointF(1100 - metrics.horizontalAdvance(r.total), y), r.total);
            painter.drawText(QPointF(1400 - metrics.horizontalAdvance(r.increment), y), r.increment);
            if (!r.flags.isEmpty())
                painter.drawText(QPointF(1450, y), r.flags);
            y += line;
        }
    }
    return static_cast<std::size_t>(buffer.size());
}

// Wall and processor time of this thread, seconds.
struct Stamp {
    Clock::time_point wall = Clock::now();
    double cpu = [] {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
    }();
};
struct Spent {
    double wall = 0, cpu = 0;
    void add(const Stamp& from, const Stamp& to) {
        wall += std::chrono::duration<double>(to.wall - from.wall).count();
        cpu += to.cpu - from.cpu;
    }
};

double PeakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) * 1024.0 / 1e6; // ru_maxrss is in KiB
}

void BM_DoseRecordPdf(benchmark::State& state) {
    EnsureApp();
    const int n = static_cast<int>(state.range(0));
    const std::string path = Database();
    const std::string wearer = "W-" + std::to_string(n);
    auto repo = RecordsRepository::open("sqlite:" + path);
    const DoseOfRecord records(*repo);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bare-read"));
    db.setDatabaseName(QString::fromStdString(path));
    db.open();
    Spent record, reading, painting;
    std::size_t pdfBytes = 0, rowsRead = 0, floorBytes = 0;
    {
        QSqlQuery read(db);
        read.setForwardOnly(true);
        read.prepare(QStringLiteral("SELECT id, taken_at, total_dose FROM readouts WHERE dosimeter_id = ?"
                                    " AND taken_at >= ? AND taken_at < ? ORDER BY taken_at"));
        for (auto _ : state) {
            const Stamp t0;
            const DoseRecordReport report = BuildDoseRecordReport(records, wearer, 2026);
            pdfBytes = DoseRecordPdf(report, dm::Language::English).size();
            const Stamp t1;
            read.bindValue(0, n);
            read.bindValue(1, static_cast<qlonglong>(YearStart(2026)));
            read.bindValue(2, static_cast<qlonglong>(YearStart(2027)));
            read.exec();
            struct Row {
                qlonglong id, at;
                double dose;
            };
            std::vector<Row> rows;
            while (read.next())
                rows.push_back({read.value(0).toLongLong(), read.value(1).toLongLong(), read.value(2).toDouble()});
            read.finish();
            const Stamp t2;
            rowsRead = rows.size();
            // The painter's texts are made outside its time: its floor is the painting.
            std::vector<TextRow> texts;
            texts.reserve(report.readouts.size());
            const DoseRecordSheet sheet(report, dm::Language::English);
            for (std::size_t i = 0; i < sheet.rowCount(); ++i) {
                const ReportRow r = sheet.row(i);
                texts.push_back({QString::fromStdString(r.cells[0]), QString::fromStdString(r.cells[1]),
                                 QString::fromStdString(r.cells[2]), QString::fromStdString(r.cells[3]),
                                 QString::fromStdString(r.cells[4])});
            }
            const Stamp t3;
            floorBytes = BarePainter(texts);
            const Stamp t4;
            record.add(t0, t1);
            reading.add(t1, t2);
            painting.add(t3, t4);
            state.SetIterationTime(std::chrono::duration<double>(t1.wall - t0.wall).count());
        }
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("bare-read"));
    const double iterations = static_cast<double>(state.iterations());
    state.counters["rows_read"] = static_cast<double>(rowsRead);
    state.counters["pdf_mb"] = static_cast<double>(pdfBytes) / 1e6;
    state.counters["painter_pdf_mb"] = static_cast<double>(floorBytes) / 1e6;
    state.counters["record_cpu_s"] = record.cpu / iterations;
    state.counters["read_cpu_s"] = reading.cpu / iterations;
    state.counters["painter_cpu_s"] = painting.cpu / iterations;
    state.counters["ratio_to_read"] = reading.cpu > 0 ? record.cpu / reading.cpu : 0.0;
    state.counters["ratio_to_painter"] = painting.cpu > 0 ? record.cpu / painting.cpu : 0.0;
    state.counters["wall_ratio_to_read"] = reading.wall > 0 ? record.wall / reading.wall : 0.0;
    state.counters["wall_ratio_to_painter"] = painting.wall > 0 ? record.wall / painting.wall : 0.0;
    state.counters["peak_rss_mb"] = PeakRssMb();
}
BENCHMARK(BM_DoseRecordPdf)->Arg(100000)->Arg(200000)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(2);

} // namespace
