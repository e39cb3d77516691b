#include "records/corrections.h"

#include "core/numbers.h"
#include "qt/qt_text.h"
#include "records/sql_connection.h"

#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <map>

namespace dm::records {
namespace {

using Kind = RecordsError::Kind;

using dm::Q;
using sql::S;

std::string Number(const QVariant& v) { return v.isNull() ? "" : ShortestNumberText(v.toDouble()); }

bool Blank(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return c <= ' '; });
}

} // namespace

std::int64_t CorrectReadout(RecordsRepository& repo, const CorrectionInput& c) {
    if (!std::isfinite(c.totalDose) || c.totalDose < 0)
        throw RecordsError(Kind::Refused, "a corrected total dose must be a dose in Sv, 0 or more");
    if (Blank(c.reason))
        throw RecordsError(Kind::Refused, "a correction needs a reason");
    const bool postgres = repo.url().kind == DatabaseUrl::Kind::Postgres;
    std::int64_t id = 0;
    bool known = true;
    repo.transaction("correct the readout " + std::to_string(c.readoutId), [&](SqlConnection& sql) {
        if (!sql.run("SELECT 1 FROM readouts WHERE id = ?", {QVariant(qlonglong(c.readoutId))})
                 .next()) {
            known = false;
            return;
        }
        // On a shared database the server records its login and its time (column
        // defaults the administrator role may not set), so a correction cannot be signed
        // with someone else's name nor dated other than when it was made.
        QSqlQuery& q = postgres
                          ? sql.run(
                                 "INSERT INTO readout_corrections (readout_id, total_dose, reason)"
                                                " VALUES (?, ?, ?) RETURNING id",
                                 {QVariant(qlonglong(c.readoutId)), c.totalDose, Q(c.reason)})
                          : sql.run(
                                 "INSERT INTO readout_corrections (readout_id, total_dose, reason,"
                                                " corrected_by, corrected_at) VALUES (?, ?, ?, ?, ?) RETURNING id",
                                 {QVariant(qlonglong(c.readoutId)), c.totalDose, Q(c.reason), Q(c.by),
                                  QVariant(qlonglong(c.at))});
        if (q.next())
            id = q.value(0).toLongLong();
    });
    if (!known)
        throw RecordsError(Kind::Refused, "no readout " + std::to_string(c.readoutId) + " in " + repo.displayName());
    return id;
}

std::optional<std::string> SerialOfReadout(RecordsRepository& repo, std::int64_t readoutId) {
    std::optional<std::string> serial;
    repo.reading("look up the readout " + std::to_string(readoutId), [&](SqlConnection& sql) {
        QSqlQuery& q = sql.run(
                           "SELECT d.serial FROM readouts r JOIN dosimeters d ON d.id = r.dosimeter_id"
                                          " WHERE r.id = ?",
                           {QVariant(qlonglong(readoutId))});
        if (q.next())
            serial = S(q.value(0));
    });
    return serial;
}

std::vector<HistoryEntry> HistoryWithCorrections(RecordsRepository& repo, const std::string& serial) {
    std::vector<HistoryEntry> out = repo.history(serial);
    std::vector<HistoryEntry> corrections;
    repo.reading("read the corrections of " + serial, [&](SqlConnection& sql) {
        QSqlQuery& q = sql.run(
                           "SELECT c.readout_id, r.total_dose, c.total_dose, c.reason, c.corrected_by,"
                                          " c.corrected_at FROM readout_corrections c"
                                          " JOIN readouts r ON r.id = c.readout_id"
                                          " JOIN dosimeters d ON d.id = r.dosimeter_id"
                                          " WHERE d.serial = ? ORDER BY c.id",
                           {Q(serial)});
        std::map<std::int64_t, std::string> current; // readout -> its value before the next correction
        while (q.next()) {
            const std::int64_t readout = q.value(0).toLongLong();
            auto it = current.find(readout);
            const std::string before = it != current.end() ? it->second : Number(q.value(1));
            const std::string after = Number(q.value(2));
            current[readout] = after;
            HistoryEntry e;
            e.at = q.value(5).toLongLong();
            e.origin = {"", S(q.value(4))};
            e.action = "correct";
            e.changes.push_back({"total_val", before, after, true});
            e.reason = S(q.value(3));
            e.readout = readout;
            e.recorded = {e.at, e.origin.operatorName};
            corrections.push_back(std::move(e));
        }
    });
    out.insert(out.end(), corrections.begin(), corrections.end());
    std::stable_sort(out.begin(), out.end(), [](const HistoryEntry& a, const HistoryEntry& b) { return a.at < b.at; });
    return out;
}

} // namespace dm::records
