#include "records/dose_of_record.h"

#include "core/cp1251.h"
#include "core/numbers.h"
#include "qt/qt_text.h"
#include "records/sql_connection.h"

#include "records/utc_time.h"

#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

namespace dm::records {
namespace {

using Kind = RecordsError::Kind;

using dm::Q;
using sql::S;
QVariant I(std::int64_t v) { return QVariant(static_cast<qlonglong>(v)); }

[[noreturn]] void Refuse(const std::string& message) { throw RecordsError(Kind::Refused, message); }

std::optional<std::int64_t> DosimeterId(SqlConnection& sql, const std::string& serial) {
    QSqlQuery& q = sql.run("SELECT id FROM dosimeters WHERE serial = ?", {Q(serial)});
    if (!q.next())
        return std::nullopt;
    return q.value(0).toLongLong();
}

// Two stations handing out the same dosimeter at once must not both end the same
// assignment and open two: on PostgreSQL the transaction holds a lock named after the
// dosimeter (no right to change its row needed); SQLite's writers are one at a time already.
void LockDosimeter(SqlConnection& sql, std::int64_t dosimeter) {
    if (sql.postgres())
        sql.run("SELECT pg_advisory_xact_lock(7317005, CAST(? AS INTEGER))", {I(dosimeter % 2147483647)});
}

bool WearerExists(SqlConnection& sql, const std::string& id) {
    return sql.run("SELECT 1 FROM wearers WHERE id = ?", {Q(id)}).next();
}

struct Row {
    std::int64_t id = 0;
    UtcSeconds at = 0;
    std::optional<double> dose;
    bool invalidDose = false; // a total was read but is no dose
};

struct Dosimeter {
    std::optional<Row> before; // the last readout with a dose before the period
    std::vector<Row> rows;     // the readouts in the period
    std::vector<std::int64_t> erases;
    std::vector<Assignment> assignments;
};

// Walks the readouts taken in [from, to) of every dosimeter (of those `wearer` wore in
// that period, when given) through the dose accounting and the attribution. Only what
// the accounting needs is read: the period's readouts, the one readout before it that
// the first increment is taken from, the erases and the assignments.
template <typename Visit>
void Walk(SqlConnection& sql, UtcSeconds from, UtcSeconds to, const std::optional<std::string>& wearer,
          Visit&& visit) {
    std::string only;
    QVariantList onlyValues;
    if (wearer) {
        only = " AND dosimeter_id IN (SELECT dosimeter_id FROM assignments"
               " WHERE wearer_id = ? AND from_at < ? AND (until_at IS NULL OR until_at >= ?))";
        onlyValues = {Q(*wearer), I(to), I(from)};
    }
    std::unordered_map<std::int64_t, Dosimeter> dosimeters;
    std::unordered_map<std::int64_t, double> corrected; // the latest correction wins
    {
        QSqlQuery& q = sql.run("SELECT readout_id, total_dose FROM readout_corrections ORDER BY id");
        while (q.next())
            corrected[q.value(0).toLongLong()] = q.value(1).toDouble();
    }
    auto effective = [&](std::int64_t id, const QVariant& raw) -> std::optional<double> {
        if (!corrected.empty())
            if (auto it = corrected.find(id); it != corrected.end())
                return it->second;
        if (raw.isNull())
            return std::nullopt;
        return raw.toDouble();
    };
    // Read: the readout's id, time, total dose and whether a total text was read.
    auto row = [&](const QSqlQuery& q) {
        const std::int64_t id = q.value(1).toLongLong();
        Row r{id, q.value(2).toLongLong(), effective(id, q.value(3)), false};
        r.invalidDose = !r.dose && q.value(4).toInt() != 0;
        return r;
    };
    // SQLite fetches rows through the time index one page read at a time: for a period
    // holding a good part of the table (a year's report of every wearer) reading the whole
    // table in order is several times faster. PostgreSQL's planner weighs this itself.
    std::string access;
    if (!sql.postgres() && !wearer) {
        QSqlQuery& all = sql.run("SELECT MAX(id) FROM readouts");
        QSqlQuery& period = sql.run("SELECT COUNT(*) FROM readouts WHERE taken_at >= ? AND taken_at < ?",
                                {I(from), I(to)});
        if (all.next() && period.next() && period.value(0).toLongLong() * 5 > all.value(0).toLongLong())
            access = " NOT INDEXED";
    }
    {
        QSqlQuery& q = sql.run(
                           "SELECT dosimeter_id, id, taken_at, total_dose,"
                                          " CASE WHEN total_text IS NULL THEN 0 ELSE 1 END FROM readouts" + access +
                               " WHERE taken_at >= ? AND taken_at < ?" + only,
                           QVariantList{I(from), I(to)} + onlyValues);
        Dosimeter* current = nullptr;
        std::int64_t currentId = -1;
        while (q.next()) {
            const std::int64_t d = q.value(0).toLongLong();
            if (d != currentId) {
                current = &dosimeters[d];
                currentId = d;
            }
            current->rows.push_back(row(q));
        }
    }
    if (dosimeters.empty())
        return;
    {
        // Several readouts may share that second: the last of them with a dose.
        QSqlQuery& q = sql.run(
                           "SELECT r.dosimeter_id, r.id, r.taken_at, r.total_dose, 0 FROM readouts r"
                                          " JOIN (SELECT dosimeter_id, MAX(taken_at) AS last_at FROM readouts"
                                          "  WHERE taken_at < ? AND (total_dose IS NOT NULL OR id IN"
                                          "   (SELECT readout_id FROM readout_corrections))" + only +
                               "  GROUP BY dosimeter_id) p"
                                              " ON r.dosimeter_id = p.dosimeter_id AND r.taken_at = p.last_at",
                           QVariantList{I(from)} + onlyValues);
        while (q.next()) {
            auto it = dosimeters.find(q.value(0).toLongLong());
            if (it == dosimeters.end())
                continue;
            const Row r = row(q);
            if (r.dose && (!it->second.before || it->second.before->id < r.id))
                it->second.before = r;
        }
    }
    {
        QSqlQuery& q = sql.run("SELECT dosimeter_id, taken_at FROM erase_events WHERE taken_at < ?" + only,
                           QVariantList{I(to)} + onlyValues);
        while (q.next())
            if (auto it = dosimeters.find(q.value(0).toLongLong()); it != dosimeters.end())
                it->second.erases.push_back(q.value(1).toLongLong());
    }
    {
        QSqlQuery& q = sql.run(
                           "SELECT dosimeter_id, wearer_id, from_at, until_at FROM assignments"
                                          " WHERE from_at < ? AND (until_at IS NULL OR until_at >= ?)" + only,
                           QVariantList{I(to), I(from)} + onlyValues);
        while (q.next())
            if (auto it = dosimeters.find(q.value(0).toLongLong()); it != dosimeters.end()) {
                Assignment a{S(q.value(1)), q.value(2).toLongLong(), std::nullopt};
                if (!q.value(3).isNull())
                    a.until = q.value(3).toLongLong();
                it->second.assignments.push_back(std::move(a));
            }
    }
    std::vector<AccountingReadout> input;
    for (auto& [dosimeterId, d] : dosimeters) {
        std::sort(d.rows.begin(), d.rows.end(),
                  [](const Row& a, const Row& b) { return a.at != b.at ? a.at < b.at : a.id < b.id; });
        input.clear();
        if (d.before)
            input.push_back({d.before->at, d.before->dose, false});
        for (const Row& r : d.rows)
            input.push_back({r.at, r.dose, r.invalidDose});
        const std::vector<Accounted> accounted = AccountReadouts(input, std::move(d.erases));
        const std::size_t skip = d.before ? 1 : 0;
        for (std::size_t i = 0; i < d.rows.size(); ++i)
            visit(dosimeterId, d.rows[i], accounted[i + skip], WearerAt(d.assignments, d.rows[i].at));
    }
}

// Sums of differences carry the binary fractions' noise (0.0022999999999999996): twelve
// significant digits are far finer than any dosimeter reads.
double Rounded(double sv) {
    if (!std::isfinite(sv) || sv == 0.0)
        return sv;
    return RoundToSignificantDigits(sv, 12);
}

void CheckLimit(const std::optional<double>& v, const char* name) {
    if (v && (!std::isfinite(*v) || *v <= 0))
        Refuse(std::string("the ") + name + " limit must be a positive dose in Sv");
}

} // namespace

std::vector<std::string> ExceededLimits(double yearDose, double fiveYearDose, const DoseLimits& l) {
    std::vector<std::string> out;
    if (yearDose >= l.annual)
        out.push_back("annual");
    if (yearDose >= l.singleYear)
        out.push_back("single_year");
    if (fiveYearDose >= l.fiveYear)
        out.push_back("five_year");
    if (yearDose >= l.investigation)
        out.push_back("investigation");
    return out;
}

UtcSeconds YearStart(int year) {
    // The end of year 9999 is the start of a year no time of the records can be written in.
    if (year > 9999)
        return YearStart(9999) + 365LL * 86400;
    char text[32];
    std::snprintf(text, sizeof text, "%04d-01-01T00:00:00Z", std::clamp(year, 0, 9999));
    return *ParseUtcTime(text);
}

int YearOf(UtcSeconds t) { return std::stoi(FormatUtcTime(t).substr(0, 4)); }

void DoseOfRecord::addWearer(const std::string& id, const std::string& name, const std::optional<std::string>& born) {
    // Text that is not UTF-8 would be stored changed: refused, never mended quietly.
    if (!IsValidUtf8(id) || !IsValidUtf8(name) || (born && !IsValidUtf8(*born)))
        Refuse("a wearer's ID and name must be UTF-8 text");
    repo_.transaction("add the wearer " + id, [&](SqlConnection& sql) {
        if (WearerExists(sql, id))
            Refuse("a wearer with the ID " + id + " exists already in " + repo_.displayName());
        sql.run("INSERT INTO wearers (id, name, born) VALUES (?, ?, ?)",
             {Q(id), Q(name), born ? QVariant(Q(*born)) : QVariant(QMetaType(QMetaType::QString))});
    });
}

std::vector<Wearer> DoseOfRecord::wearers() const {
    std::vector<Wearer> out;
    repo_.reading("list the wearers", [&](SqlConnection& sql) {
        std::map<std::string, std::vector<std::string>> wearing;
        QSqlQuery& a = sql.run("SELECT a.wearer_id, d.serial FROM assignments a"
                                              " JOIN dosimeters d ON d.id = a.dosimeter_id WHERE a.until_at IS NULL");
        while (a.next())
            wearing[S(a.value(0))].push_back(S(a.value(1)));
        QSqlQuery& q = sql.run("SELECT id, name, born FROM wearers");
        while (q.next()) {
            Wearer w{S(q.value(0)), S(q.value(1)), std::nullopt, {}};
            if (!q.value(2).isNull())
                w.born = S(q.value(2));
            if (auto it = wearing.find(w.id); it != wearing.end())
                w.dosimeters = it->second;
            std::sort(w.dosimeters.begin(), w.dosimeters.end());
            out.push_back(std::move(w));
        }
    });
    // By ID as text, byte by byte: a server's collation must not decide the order.
    std::sort(out.begin(), out.end(), [](const Wearer& a, const Wearer& b) { return a.id < b.id; });
    return out;
}

bool DoseOfRecord::knowsWearer(const std::string& id) const {
    bool known = false;
    repo_.reading("look up the wearer " + id, [&](SqlConnection& sql) { known = WearerExists(sql, id); });
    return known;
}

void DoseOfRecord::requireWearer(const std::string& id) const {
    if (!knowsWearer(id))
        Refuse("no wearer " + id + " in " + repo_.displayName());
}

std::optional<std::string> DoseOfRecord::currentWearer(const std::string& serial) const {
    std::optional<std::string> out;
    repo_.reading("look up the wearer of " + serial, [&](SqlConnection& sql) {
        QSqlQuery& q = sql.run("SELECT a.wearer_id FROM assignments a JOIN dosimeters d"
                                              " ON d.id = a.dosimeter_id WHERE d.serial = ? AND a.until_at IS NULL",
                           {Q(serial)});
        if (q.next())
            out = S(q.value(0));
    });
    return out;
}

void DoseOfRecord::assign(const std::string& serial, const std::string& wearer, UtcSeconds from) {
    repo_.transaction("assign " + serial + " to " + wearer, [&](SqlConnection& sql) {
        if (!WearerExists(sql, wearer))
            Refuse("no wearer " + wearer + " in " + repo_.displayName());
        sql.run("INSERT INTO dosimeters (serial) VALUES (?) ON CONFLICT (serial) DO NOTHING",
             {Q(serial)});
        const std::int64_t dosimeter = *DosimeterId(sql, serial);
        LockDosimeter(sql, dosimeter);
        QSqlQuery& last = sql.run(
                              "SELECT MAX(from_at), MAX(COALESCE(until_at, from_at)) FROM assignments"
                                             " WHERE dosimeter_id = ?",
                              {I(dosimeter)});
        if (last.next() && !last.value(0).isNull()) {
            const UtcSeconds lastFrom = last.value(0).toLongLong();
            const UtcSeconds lastUntil = last.value(1).toLongLong();
            if (from <= lastFrom || from < lastUntil)
                Refuse(serial + " was last handed out or back at " +
                       FormatUtcTime(std::max(lastFrom, lastUntil)) + ": an assignment must start later");
        }
        // A row added: the database ends the assignment that holds the dosimeter.
        sql.run("INSERT INTO handovers (dosimeter_id, wearer_id, handed_at) VALUES (?, ?, ?)",
             {I(dosimeter), Q(wearer), I(from)});
    });
}

void DoseOfRecord::unassign(const std::string& serial, UtcSeconds at) {
    repo_.transaction("end the assignment of " + serial, [&](SqlConnection& sql) {
        const std::optional<std::int64_t> dosimeter = DosimeterId(sql, serial);
        if (!dosimeter)
            Refuse("no dosimeter " + serial + " in " + repo_.displayName());
        LockDosimeter(sql, *dosimeter);
        QSqlQuery& open = sql.run(
                              "SELECT id, from_at, wearer_id FROM assignments"
                                             " WHERE dosimeter_id = ? AND until_at IS NULL",
                              {I(*dosimeter)});
        if (!open.next())
            Refuse(serial + " has no wearer");
        const UtcSeconds from = open.value(1).toLongLong();
        if (at < from)
            Refuse(serial + " was handed to " + S(open.value(2)) + " at " + FormatUtcTime(from) +
                   ": it cannot be handed back before that");
        sql.run("INSERT INTO handovers (dosimeter_id, wearer_id, handed_at) VALUES (?, NULL, ?)",
             {I(*dosimeter), I(at)});
    });
}

DoseLimits DoseOfRecord::limits() const { return limitsAt(std::nullopt); }

DoseLimits DoseOfRecord::limitsAt(std::optional<UtcSeconds> at) const {
    DoseLimits l;
    repo_.reading("read the dose limits", [&](SqlConnection& sql) {
        // Each change is a row; the last one in force at the time wins.
        QSqlQuery& q = at ? sql.run("SELECT name, sv FROM dose_limit_changes WHERE in_force_from <= ?"
                                                   " ORDER BY in_force_from, id",
                                {I(*at)})
                         : sql.run("SELECT name, sv FROM dose_limits");
        while (q.next()) {
            const std::string name = S(q.value(0));
            const double sv = q.value(1).toDouble();
            if (name == "annual")
                l.annual = sv;
            else if (name == "single_year")
                l.singleYear = sv;
            else if (name == "five_year")
                l.fiveYear = sv;
            else if (name == "investigation")
                l.investigation = sv;
        }
    });
    return l;
}

DoseLimits DoseOfRecord::setLimits(const LimitChanges& c) {
    CheckLimit(c.annual, "annual");
    CheckLimit(c.singleYear, "single-year");
    CheckLimit(c.fiveYear, "five-year");
    CheckLimit(c.investigation, "investigation");
    repo_.transaction("set the dose limits", [&](SqlConnection& sql) {
        const std::pair<const char*, std::optional<double>> changes[] = {
            {"annual", c.annual}, {"single_year", c.singleYear}, {"five_year", c.fiveYear},
            {"investigation", c.investigation}};
        for (const auto& [name, value] : changes) {
            if (!value)
                continue;
            sql.run("INSERT INTO dose_limit_changes (name, sv) VALUES (?, ?)",
                 {QString::fromLatin1(name), *value});
        }
    });
    return limits();
}

std::vector<AttributedReadout> DoseOfRecord::attributedReadouts(UtcSeconds from, UtcSeconds to,
                                                                const std::optional<std::string>& wearer) const {
    std::vector<AttributedReadout> out;
    repo_.reading("read the dose of record", [&](SqlConnection& sql) {
        std::unordered_map<std::int64_t, std::string> serials;
        QSqlQuery& q = sql.run("SELECT id, serial FROM dosimeters");
        while (q.next())
            serials[q.value(0).toLongLong()] = S(q.value(1));
        Walk(sql, from, to, wearer,
             [&](std::int64_t dosimeter, const Row& r, const Accounted& a, std::optional<std::string> w) {
                 if (wearer && w != wearer)
                     return;
                 out.push_back({r.id, serials[dosimeter], r.at, r.dose, a, std::move(w)});
             });
    });
    std::sort(out.begin(), out.end(), [](const AttributedReadout& a, const AttributedReadout& b) {
        if (a.serial != b.serial)
            return a.serial < b.serial;
        return a.at != b.at ? a.at < b.at : a.readout < b.readout;
    });
    return out;
}

WearerDose DoseOfRecord::dose(const std::string& wearer, UtcSeconds from, UtcSeconds to) const {
    requireWearer(wearer);
    WearerDose out{wearer, from, to, 0.0, 0};
    repo_.reading("read the dose of " + wearer, [&](SqlConnection& sql) {
        Walk(sql, from, to, wearer, [&](std::int64_t, const Row&, const Accounted& a, const std::optional<std::string>& w) {
            if (w != wearer)
                return;
            ++out.readouts;
            out.dose += a.increment.value_or(0.0);
        });
    });
    out.dose = Rounded(out.dose);
    return out;
}

AnnualDose DoseOfRecord::annual(const std::string& wearer, int year) const {
    requireWearer(wearer);
    AnnualDose out;
    out.wearer = wearer;
    out.year = year;
    out.limits = limits();
    const UtcSeconds start = YearStart(year);
    repo_.reading("read the doses of " + wearer, [&](SqlConnection& sql) {
        Walk(sql, YearStart(year - 4), YearStart(year + 1), wearer,
             [&](std::int64_t, const Row& r, const Accounted& a, const std::optional<std::string>& w) {
                 if (w != wearer)
                     return;
                 const double increment = a.increment.value_or(0.0);
                 out.fiveYearDose += increment;
                 if (r.at >= start)
                     out.dose += increment;
             });
    });
    out.dose = Rounded(out.dose);
    out.fiveYearDose = Rounded(out.fiveYearDose);
    out.exceeded = ExceededLimits(out.dose, out.fiveYearDose, out.limits);
    return out;
}

std::map<std::string, double> DoseOfRecord::dosesByWearer(UtcSeconds from, UtcSeconds to) const {
    std::map<std::string, double> out;
    repo_.reading("read the doses of the wearers", [&](SqlConnection& sql) {
        std::unordered_map<std::string, double> sums;
        Walk(sql, from, to, std::nullopt,
             [&](std::int64_t, const Row&, const Accounted& a, const std::optional<std::string>& w) {
                 if (w)
                     sums[*w] += a.increment.value_or(0.0);
             });
        for (const auto& [wearer, dose] : sums)
            out.emplace(wearer, Rounded(dose));
    });
    return out;
}

std::vector<YearDose> DoseOfRecord::doseTable(std::optional<int> year) const {
    std::map<std::pair<std::string, int>, double> sums;
    const UtcSeconds from = year ? YearStart(*year) : YearStart(0);
    const UtcSeconds to = YearStart(year ? *year + 1 : 10000);
    repo_.reading("read the doses of the wearers", [&](SqlConnection& sql) {
        Walk(sql, from, to, std::nullopt,
             [&](std::int64_t, const Row& r, const Accounted& a, const std::optional<std::string>& w) {
                 if (w)
                     sums[{*w, YearOf(r.at)}] += a.increment.value_or(0.0);
             });
    });
    std::vector<YearDose> out;
    for (const auto& [key, dose] : sums)
        out.push_back({key.first, key.second, Rounded(dose)});
    return out;
}

} // namespace dm::records
