// The reads of the records store: the dosimeters, a dosimeter's readouts with the dose
// accounting applied, its audit trail and its dose-history downloads.
#include "records/records_repository.h"

#include "core/numbers.h"
#include "qt/qt_text.h"
#include "records/sql_connection.h"

#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <map>

namespace dm::records {
namespace {

using dm::Q;
using sql::S;

RecordedBy ToRecorded(const QVariant& at, const QVariant& login) {
    RecordedBy r;
    if (!at.isNull())
        r.at = at.toLongLong();
    if (!login.isNull())
        r.login = S(login);
    return r;
}

std::optional<double> ToOptionalDouble(const QVariant& v) {
    if (v.isNull())
        return std::nullopt;
    return v.toDouble();
}

std::optional<std::int64_t> KnownDosimeterId(SqlConnection& sql, const std::string& serial) {
    QSqlQuery& q = sql.run("SELECT id FROM dosimeters WHERE serial = ?", {Q(serial)});
    if (!q.next())
        return std::nullopt;
    return q.value(0).toLongLong();
}

// The dosimeter's id; a serial the database does not hold is refused.
qlonglong RequireDosimeterId(SqlConnection& sql, const std::string& serial) {
    const std::optional<std::int64_t> id = KnownDosimeterId(sql, serial);
    if (!id)
        throw RecordsError(RecordsError::Kind::UnknownSerial, "no dosimeter " + serial + " in " + sql.display());
    return *id;
}

} // namespace

bool RecordsRepository::knowsSerial(const std::string& serial) const {
    return sql_->read("look up " + serial, [&] { return KnownDosimeterId(*sql_, serial).has_value(); });
}

std::vector<DosimeterSummary> RecordsRepository::dosimeters() const {
    auto list = sql_->read("list the dosimeters", [&] {
        QSqlQuery& q = sql_->run(
            "SELECT x.serial, x.readouts, x.first_at, x.last_at, lr.model,"
            " COALESCE((SELECT c.total_dose FROM readout_corrections c WHERE c.readout_id = lr.id"
            "           ORDER BY c.id DESC LIMIT 1), lr.total_dose),"
            " (SELECT a.wearer_id FROM assignments a WHERE a.dosimeter_id = x.id AND a.until_at IS NULL"
            "  ORDER BY a.from_at DESC LIMIT 1)"
            " FROM (SELECT d.id, d.serial,"
            "  (SELECT COUNT(*) FROM readouts r WHERE r.dosimeter_id = d.id) AS readouts,"
            "  (SELECT MIN(r.taken_at) FROM readouts r WHERE r.dosimeter_id = d.id) AS first_at,"
            "  (SELECT MAX(r.taken_at) FROM readouts r WHERE r.dosimeter_id = d.id) AS last_at,"
            "  (SELECT r.id FROM readouts r WHERE r.dosimeter_id = d.id"
            "   ORDER BY r.taken_at DESC, r.id DESC LIMIT 1) AS latest_id"
            "  FROM dosimeters d) x"
            " LEFT JOIN readouts lr ON lr.id = x.latest_id",
            {});
        std::vector<DosimeterSummary> out;
        while (q.next()) {
            DosimeterSummary s;
            s.serial = S(q.value(0));
            s.readouts = q.value(1).toLongLong();
            if (!q.value(2).isNull())
                s.firstSeen = q.value(2).toLongLong();
            if (!q.value(3).isNull())
                s.lastSeen = q.value(3).toLongLong();
            if (!q.value(4).isNull())
                s.model = S(q.value(4));
            s.totalDose = ToOptionalDouble(q.value(5));
            if (!q.value(6).isNull())
                s.wearer = S(q.value(6));
            out.push_back(std::move(s));
        }
        return out;
    });
    // By serial as text, byte by byte: a server's collation must not decide the order.
    std::sort(list.begin(), list.end(),
              [](const DosimeterSummary& a, const DosimeterSummary& b) { return a.serial < b.serial; });
    return list;
}

std::vector<ReadoutView> RecordsRepository::readouts(const std::string& serial) const {
    return sql_->read("read the readouts of " + serial, [&] {
        SqlConnection& d = *sql_;
        const qlonglong id = RequireDosimeterId(d, serial);
        std::vector<ReadoutView> out;
        std::vector<AccountingReadout> accounting;
        {
            QSqlQuery& q = d.run(
                "SELECT r.id, r.taken_at, r.station, r.operator_name, r.model,"
                " COALESCE((SELECT c.total_dose FROM readout_corrections c WHERE c.readout_id = r.id"
                "           ORDER BY c.id DESC LIMIT 1), r.total_dose), r.recorded_at, r.recorded_by, r.total_text"
                " FROM readouts r WHERE r.dosimeter_id = ? ORDER BY r.taken_at",
                {id});
            while (q.next()) {
                ReadoutView v;
                v.id = q.value(0).toLongLong();
                v.at = q.value(1).toLongLong();
                v.origin = {S(q.value(2)), S(q.value(3))};
                v.model = S(q.value(4));
                v.totalDose = ToOptionalDouble(q.value(5));
                v.recorded = ToRecorded(q.value(6), q.value(7));
                if (!q.value(8).isNull())
                    v.totalText = S(q.value(8));
                out.push_back(std::move(v));
            }
        }
        // Readouts of one second in the order they were stored. Sorted here: the key's index
        // gives the time order, and sorting by id in SQL would cost a sort of every row.
        const auto earlier = [](const ReadoutView& a, const ReadoutView& b) {
            return a.at != b.at ? a.at < b.at : a.id < b.id;
        };
        if (!std::is_sorted(out.begin(), out.end(), earlier))
            std::sort(out.begin(), out.end(), earlier);
        for (const ReadoutView& v : out)
            accounting.push_back({v.at, v.totalDose, !v.totalDose && v.totalText});
        std::vector<std::int64_t> erases;
        {
            QSqlQuery& q = d.run("SELECT taken_at FROM erase_events WHERE dosimeter_id = ?", {id});
            while (q.next())
                erases.push_back(q.value(0).toLongLong());
        }
        std::vector<Assignment> assignments;
        {
            QSqlQuery& q = d.run(
                "SELECT wearer_id, from_at, until_at FROM assignments WHERE dosimeter_id = ? ORDER BY from_at",
                {id});
            while (q.next()) {
                Assignment a{S(q.value(0)), q.value(1).toLongLong(), std::nullopt};
                if (!q.value(2).isNull())
                    a.until = q.value(2).toLongLong();
                assignments.push_back(std::move(a));
            }
        }
        const std::vector<Accounted> accounted = AccountReadouts(accounting, std::move(erases));
        for (std::size_t i = 0; i < out.size(); ++i) {
            out[i].accounted = accounted[i];
            out[i].wearer = WearerAt(assignments, out[i].at);
        }
        return out;
    });
}

std::vector<HistoryEntry> RecordsRepository::history(const std::string& serial) const {
    return sql_->read("read the history of " + serial, [&] {
        SqlConnection& d = *sql_;
        const qlonglong id = RequireDosimeterId(d, serial);
        std::vector<std::pair<std::int64_t, HistoryEntry>> entries; // (set id, entry)
        {
            QSqlQuery& q = d.run("SELECT id, taken_at, station, operator_name, recorded_at, recorded_by"
                                 " FROM change_sets WHERE dosimeter_id = ? ORDER BY taken_at, id",
                                 {id});
            while (q.next()) {
                entries.push_back({q.value(0).toLongLong(),
                                   {q.value(1).toLongLong(), {S(q.value(2)), S(q.value(3))}, "send-changes", {}, {}, {}, {}}});
                entries.back().second.recorded = ToRecorded(q.value(4), q.value(5));
            }
        }
        {
            // Every set's lines in one query, not one query a set.
            std::map<std::int64_t, HistoryEntry*> bySet;
            for (auto& [setId, entry] : entries)
                bySet[setId] = &entry;
            QSqlQuery& q = d.run("SELECT c.change_set_id, c.key, c.before_value, c.after_value, c.taken"
                                 " FROM changes_sent c JOIN change_sets s ON s.id = c.change_set_id"
                                 " WHERE s.dosimeter_id = ? ORDER BY c.change_set_id, c.position",
                                 {id});
            while (q.next())
                if (const auto set = bySet.find(q.value(0).toLongLong()); set != bySet.end())
                    set->second->changes.push_back(
                        {S(q.value(1)), S(q.value(2)), S(q.value(3)), q.value(4).toInt() != 0});
        }
        std::vector<HistoryEntry> out;
        for (auto& e : entries)
            out.push_back(std::move(e.second));
        {
            QSqlQuery& q = d.run("SELECT taken_at, station, operator_name, total_dose_before, recorded_at, recorded_by"
                                 " FROM erase_events WHERE dosimeter_id = ? ORDER BY taken_at, id",
                                 {id});
            while (q.next()) {
                HistoryEntry e{q.value(0).toLongLong(), {S(q.value(1)), S(q.value(2))}, "erase", {}, {}, {}, {}};
                e.recorded = ToRecorded(q.value(4), q.value(5));
                if (!q.value(3).isNull())
                    e.changes.push_back({"total_val", ShortestNumberText(q.value(3).toDouble()), "0", true});
                out.push_back(std::move(e));
            }
        }
        std::stable_sort(out.begin(), out.end(),
                         [](const HistoryEntry& a, const HistoryEntry& b) { return a.at < b.at; });
        return out;
    });
}

std::vector<HistoryDownloadView> RecordsRepository::historyDownloads(const std::string& serial) const {
    return sql_->read("read the dose histories of " + serial, [&] {
        SqlConnection& d = *sql_;
        const qlonglong id = RequireDosimeterId(d, serial);
        std::vector<HistoryDownloadView> out;
        {
            QSqlQuery& q = d.run("SELECT id, taken_at, station, operator_name, record_interval, layout"
                                 " FROM history_downloads WHERE dosimeter_id = ? ORDER BY taken_at",
                                 {id});
            while (q.next()) {
                HistoryDownloadView v;
                v.id = q.value(0).toLongLong();
                v.at = q.value(1).toLongLong();
                v.origin = {S(q.value(2)), S(q.value(3))};
                v.interval = q.value(4).toDouble();
                v.layout = S(q.value(5)) == "A" ? 'A' : 'B';
                out.push_back(std::move(v));
            }
        }
        for (HistoryDownloadView& v : out) {
            QSqlQuery& q = d.run("SELECT section, number, seconds, dose_text, dose, coefficient"
                                 " FROM history_records WHERE download_id = ?"
                                 " ORDER BY CASE section WHEN 'gamma' THEN 0 ELSE 1 END, number",
                                 {static_cast<qlonglong>(v.id)});
            while (q.next()) {
                ArchiveRecord r;
                r.section = S(q.value(0)) == "gamma" ? ArchiveRecord::Section::Gamma
                                                     : ArchiveRecord::Section::Neutron;
                r.number = q.value(1).toInt();
                if (!q.value(2).isNull())
                    r.seconds = q.value(2).toLongLong();
                r.doseText = S(q.value(3));
                r.dose = q.value(4).toDouble();
                r.coefficient = S(q.value(5));
                v.records.push_back(std::move(r));
            }
        }
        return out;
    });
}

std::vector<StoredParameter> RecordsRepository::readoutParameters(std::int64_t readoutId) const {
    return sql_->read("read the parameters of readout " + std::to_string(readoutId), [&] {
        QSqlQuery& q = sql_->run("SELECT key, raw_value FROM readout_parameters WHERE readout_id = ?"
                                  " ORDER BY position",
                                  {static_cast<qlonglong>(readoutId)});
        std::vector<StoredParameter> out;
        while (q.next())
            out.push_back({S(q.value(0)), S(q.value(1))});
        return out;
    });
}

} // namespace dm::records
