// The writes of the records store: readouts, downloads, erases and changes sent, each
// one transaction, a repeated one a no-op.
#include "records/records_repository.h"

#include "core/numbers.h"
#include "qt/qt_text.h"
#include "records/sql_connection.h"

#include <QCryptographicHash>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <map>

namespace dm::records {
namespace {

using dm::Q;
using sql::S;

QVariant OptionalDouble(const std::optional<double>& v) {
    return v ? QVariant(*v) : QVariant(QMetaType(QMetaType::Double));
}
QVariant OptionalInt(const std::optional<std::int64_t>& v) {
    return v ? QVariant(static_cast<qlonglong>(*v)) : QVariant(QMetaType(QMetaType::LongLong));
}
std::optional<double> ToOptionalDouble(const QVariant& v) {
    if (v.isNull())
        return std::nullopt;
    return v.toDouble();
}

// What a readout stores of its total: the text as read and the dose it carries, if any.
struct TotalAsRead {
    std::optional<std::string> text;
    std::optional<double> dose;
};

TotalAsRead ReadTotal(const ReadoutInput& r) {
    for (const StoredParameter& p : r.parameters)
        if (p.key == "total_val")
            return {p.raw, DoseFromText(p.raw)};
    if (!r.totalDose)
        return {};
    if (std::isfinite(*r.totalDose) && *r.totalDose >= 0)
        return {std::nullopt, r.totalDose};
    return {ShortestNumberText(*r.totalDose), std::nullopt};
}

// A digest of what a readout holds: model, total and every parameter as received, in order.
std::string ContentKey(const ReadoutInput& r, const TotalAsRead& total) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    auto add = [&](const std::string& text) {
        hash.addData(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
        hash.addData(QByteArrayView("\0", 1));
    };
    add(r.model);
    add(total.dose ? ShortestNumberText(*total.dose) : "-");
    add(total.text.value_or("-"));
    for (const StoredParameter& p : r.parameters) {
        add(p.key);
        add(p.raw);
    }
    return hash.result().toHex().toStdString();
}

std::int64_t DosimeterId(SqlConnection& sql, const std::string& serial) {
    sql.run("INSERT INTO dosimeters (serial) VALUES (?) ON CONFLICT (serial) DO NOTHING", {Q(serial)});
    QSqlQuery& q = sql.run("SELECT id FROM dosimeters WHERE serial = ?", {Q(serial)});
    if (!q.next())
        throw SqlFailure{QSqlError(QStringLiteral("dosimeter row vanished"), {}, QSqlError::UnknownError)};
    return q.value(0).toLongLong();
}

// Inserts an event row keyed by (dosimeter, time); the row already there wins.
Stored InsertEvent(SqlConnection& sql, const std::string& table, const std::string& columns, std::int64_t dosimeter,
                   std::int64_t at, const QVariantList& rest) {
    std::string marks = "?, ?";
    for (int i = 0; i < rest.size(); ++i)
        marks += ", ?";
    QVariantList values{static_cast<qlonglong>(dosimeter), static_cast<qlonglong>(at)};
    values += rest;
    QSqlQuery& q = sql.run("INSERT INTO " + table + " (dosimeter_id, taken_at, " + columns + ") VALUES (" +
                           marks + ") ON CONFLICT (dosimeter_id, taken_at) DO NOTHING RETURNING id",
                       values);
    if (q.next())
        return {q.value(0).toLongLong(), true};
    QSqlQuery& existing = sql.run("SELECT id FROM " + table + " WHERE dosimeter_id = ? AND taken_at = ?",
                              {static_cast<qlonglong>(dosimeter), static_cast<qlonglong>(at)});
    if (!existing.next())
        throw SqlFailure{QSqlError(QStringLiteral("row vanished"), {}, QSqlError::UnknownError)};
    return {existing.value(0).toLongLong(), false};
}

// A row stored before readouts had a content key (schema version 1) holding what r
// holds: the same model and parameters as received (with them the total's text), or,
// without a total's text, the same total.
std::optional<std::int64_t> SameOlderReadout(SqlConnection& sql, std::optional<bool>& olderReadouts,
                                             std::int64_t dosimeter, const ReadoutInput& r, const TotalAsRead& total) {
    // Found once through a small index of such rows; none are made after the upgrade.
    if (!olderReadouts)
        olderReadouts = sql.run("SELECT 1 FROM readouts WHERE content_key = '' LIMIT 1", {}).next();
    if (!*olderReadouts)
        return std::nullopt;
    std::vector<std::int64_t> candidates;
    {
        QSqlQuery& q = sql.run("SELECT id, model, total_dose, total_text FROM readouts"
                           " WHERE dosimeter_id = ? AND taken_at = ? AND content_key = ''",
                           {static_cast<qlonglong>(dosimeter), static_cast<qlonglong>(r.at)});
        while (q.next()) {
            const std::optional<std::string> text =
                q.value(3).isNull() ? std::nullopt : std::optional<std::string>(S(q.value(3)));
            if (S(q.value(1)) == r.model && text == total.text &&
                (text || ToOptionalDouble(q.value(2)) == r.totalDose))
                candidates.push_back(q.value(0).toLongLong());
        }
    }
    for (const std::int64_t id : candidates) {
        QSqlQuery& q = sql.run("SELECT key, raw_value FROM readout_parameters WHERE readout_id = ? ORDER BY position",
                           {static_cast<qlonglong>(id)});
        std::size_t i = 0;
        bool same = true;
        for (; q.next(); ++i)
            same = same && i < r.parameters.size() && S(q.value(0)) == r.parameters[i].key &&
                   S(q.value(1)) == r.parameters[i].raw;
        if (same && i == r.parameters.size())
            return id;
    }
    return std::nullopt;
}

// Inside a transaction: one readout, keyed by dosimeter, time and content.
Stored StoreReadout(SqlConnection& sql, std::optional<bool>& olderReadouts, const ReadoutInput& r,
                    std::int64_t dosimeter) {
    const TotalAsRead total = ReadTotal(r);
    if (const std::optional<std::int64_t> older = SameOlderReadout(sql, olderReadouts, dosimeter, r, total))
        return {*older, false};
    const std::string key = ContentKey(r, total);
    const QVariantList where{static_cast<qlonglong>(dosimeter), static_cast<qlonglong>(r.at), Q(key)};
    QSqlQuery& q = sql.run("INSERT INTO readouts (dosimeter_id, taken_at, content_key, station, operator_name, model,"
                       " total_dose, total_text) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"
                       " ON CONFLICT (dosimeter_id, taken_at, content_key) DO NOTHING RETURNING id",
                       where + QVariantList{Q(r.origin.station), Q(r.origin.operatorName), Q(r.model),
                                            OptionalDouble(total.dose),
                                            total.text ? QVariant(Q(*total.text))
                                                       : QVariant(QMetaType(QMetaType::QString))});
    if (!q.next()) {
        QSqlQuery& existing = sql.run("SELECT id FROM readouts WHERE dosimeter_id = ? AND taken_at = ?"
                                  " AND content_key = ?", where);
        if (!existing.next())
            throw SqlFailure{QSqlError(QStringLiteral("row vanished"), {}, QSqlError::UnknownError)};
        return {existing.value(0).toLongLong(), false};
    }
    const Stored stored{q.value(0).toLongLong(), true};
    // Many rows a statement: one round trip to a server for a reply's parameters.
    constexpr std::size_t kRowsEach = 100;
    for (std::size_t first = 0; first < r.parameters.size(); first += kRowsEach) {
        const std::size_t rows = std::min(kRowsEach, r.parameters.size() - first);
        std::string text = "INSERT INTO readout_parameters (readout_id, position, key, raw_value) VALUES ";
        QVariantList values;
        for (std::size_t i = first; i < first + rows; ++i) {
            text += i == first ? "(?, ?, ?, ?)" : ", (?, ?, ?, ?)";
            values += QVariantList{static_cast<qlonglong>(stored.id), static_cast<int>(i + 1),
                                   Q(r.parameters[i].key), Q(r.parameters[i].raw)};
        }
        sql.run(text, values);
    }
    return stored;
}

} // namespace

Stored RecordsRepository::addReadout(const ReadoutInput& r) {
    return sql_->transact("store the readout of " + r.serial, [&] {
        return StoreReadout(*sql_, olderReadouts_, r, DosimeterId(*sql_, r.serial));
    });
}

std::vector<Stored> RecordsRepository::addReadouts(const std::vector<ReadoutInput>& readouts,
                                                   const StoreProgress& progress) {
    return sql_->transact("store " + std::to_string(readouts.size()) + " readouts", [&] {
        std::map<std::string, std::int64_t> dosimeters; // looked up once per serial
        std::vector<Stored> out;
        out.reserve(readouts.size());
        for (const ReadoutInput& r : readouts) {
            auto known = dosimeters.find(r.serial);
            if (known == dosimeters.end())
                known = dosimeters.emplace(r.serial, DosimeterId(*sql_, r.serial)).first;
            out.push_back(StoreReadout(*sql_, olderReadouts_, r, known->second));
            if (progress)
                progress(out.size(), readouts.size());
        }
        return out;
    });
}

Stored RecordsRepository::addHistoryDownload(const HistoryDownloadInput& h) {
    return storeDownloads({&h}, {}).front();
}

std::vector<Stored> RecordsRepository::addHistoryDownloads(const std::vector<HistoryDownloadInput>& downloads,
                                                           const StoreProgress& progress) {
    std::vector<const HistoryDownloadInput*> list;
    for (const HistoryDownloadInput& h : downloads)
        list.push_back(&h);
    return storeDownloads(list, progress);
}

std::vector<Stored> RecordsRepository::storeDownloads(const std::vector<const HistoryDownloadInput*>& downloads,
                                                            const StoreProgress& progress) {
    const std::string what = downloads.size() == 1 ? "the dose history of " + downloads.front()->serial
                                                   : std::to_string(downloads.size()) + " dose histories";
    std::size_t total = 0;
    for (const HistoryDownloadInput* h : downloads)
        total += h->records.size();
    return sql_->transact("store " + what, [&] {
        SqlConnection& sql = *sql_;
        std::vector<Stored> out;
        std::size_t done = 0;
        for (const HistoryDownloadInput* download : downloads) {
            const HistoryDownloadInput& h = *download;
            const std::int64_t dosimeter = DosimeterId(sql, h.serial);
            const Stored stored =
                InsertEvent(sql, "history_downloads", "station, operator_name, record_interval, layout", dosimeter,
                              h.at,
                              {Q(h.origin.station), Q(h.origin.operatorName), h.interval,
                               QString(QChar(h.layout == 'A' ? 'A' : 'B'))});
            out.push_back(stored);
            if (!stored.isNew) {
                done += h.records.size();
                continue;
            }
            // Many rows a statement, as for a readout's parameters: an archive holds up to a
            // million records, and a server is a round trip away.
            constexpr std::size_t kRowsEach = 100;
            for (std::size_t first = 0; first < h.records.size(); first += kRowsEach) {
                const std::size_t rows = std::min(kRowsEach, h.records.size() - first);
                std::string text = "INSERT INTO history_records (download_id, section, number, seconds, dose_text,"
                                  " dose, coefficient) VALUES ";
                QVariantList values;
                for (std::size_t i = first; i < first + rows; ++i) {
                    const ArchiveRecord& rec = h.records[i];
                    const bool neutron = rec.section == ArchiveRecord::Section::Neutron;
                    text += i == first ? "(?, ?, ?, ?, ?, ?, ?)" : ", (?, ?, ?, ?, ?, ?, ?)";
                    values += QVariantList{static_cast<qlonglong>(stored.id),
                                           neutron ? QStringLiteral("neutron") : QStringLiteral("gamma"), rec.number,
                                           OptionalInt(rec.seconds), Q(rec.doseText), rec.dose,
                                           neutron ? QVariant(Q(rec.coefficient)) : QVariant(QMetaType(QMetaType::QString))};
                }
                sql.run(text, values);
                done += rows;
                if (progress && done % 4096 < rows) // told now and then: a call a record costs
                    progress(done, total);
            }
        }
        if (progress)
            progress(total, total);
        return out;
    });
}

Stored RecordsRepository::addErase(const EraseInput& e) {
    return sql_->transact("store the erase of " + e.serial, [&] {
        const std::int64_t dosimeter = DosimeterId(*sql_, e.serial);
        return InsertEvent(*sql_, "erase_events", "station, operator_name, total_dose_before", dosimeter, e.at,
                             {Q(e.origin.station), Q(e.origin.operatorName), OptionalDouble(e.totalDoseBefore)});
    });
}

Stored RecordsRepository::addChanges(const ChangesInput& c) {
    return sql_->transact("store the changes sent to " + c.serial, [&] {
        const std::int64_t dosimeter = DosimeterId(*sql_, c.serial);
        const Stored stored = InsertEvent(*sql_, "change_sets", "station, operator_name", dosimeter, c.at,
                                            {Q(c.origin.station), Q(c.origin.operatorName)});
        if (!stored.isNew)
            return stored;
        int position = 0;
        for (const ChangeSent& change : c.changes)
            sql_->run("INSERT INTO changes_sent (change_set_id, position, key, before_value, after_value, taken)"
                  " VALUES (?, ?, ?, ?, ?, ?)",
                  {static_cast<qlonglong>(stored.id), ++position, Q(change.key), Q(change.before),
                   Q(change.after), change.taken ? 1 : 0});
        return stored;
    });
}

} // namespace dm::records
