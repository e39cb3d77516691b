#include "records/records_repository.h"

#include "core/numbers.h"
#include "records/sql_helpers.h"

#include "records/call_watch.h"
#include "records/private_files.h"
#include "records/schema.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace dm::records {
namespace {

using Kind = RecordsError::Kind;

// A statement that failed inside a transaction; sorted out by Transact.
struct SqlFailure {
    QSqlError error;
};

using sql::Q;
using sql::S;

QVariant OptionalDouble(const std::optional<double>& v) {
    return v ? QVariant(*v) : QVariant(QMetaType(QMetaType::Double));
}
QVariant OptionalInt(const std::optional<std::int64_t>& v) {
    return v ? QVariant(static_cast<qlonglong>(*v)) : QVariant(QMetaType(QMetaType::LongLong));
}
RecordedBy ToRecorded(const QVariant& at, const QVariant& login) {
    RecordedBy r;
    if (!at.isNull())
        r.at = at.toLongLong();
    if (!login.isNull())
        r.login = sql::S(login);
    return r;
}

std::optional<double> ToOptionalDouble(const QVariant& v) {
    if (v.isNull())
        return std::nullopt;
    return v.toDouble();
}

std::string ErrorText(const QSqlError& e) {
    std::string text = e.text().toStdString();
    if (text.empty() || text == " ")
        text = "unknown database error";
    if (e.nativeErrorCode() == QLatin1String("42501"))
        text += " (this login's role does not allow it; see 'dosimeter-cli records setup-roles')";
    // One line: drivers report in several, with tabs.
    std::string line;
    for (char c : text) {
        const bool blank = c == '\n' || c == '\r' || c == '\t' || c == ' ';
        if (blank && (line.empty() || line.back() == ' '))
            continue;
        line += blank ? ' ' : c;
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

// Creates the SQLite file's folder (owner only, each folder made 0700) and the file itself
// (owner only), so the personal data in it is never readable by others, not even for a
// moment; refuses a file or folder another user owns or others may write.
void PrepareSqliteFile(const std::string& path, const std::string& display) {
    namespace fs = std::filesystem;
    const fs::path file(path);
    std::error_code ec;
    std::string error;
    if (!CreatePrivateFolders(file.parent_path(), &error))
        throw RecordsError(Kind::CannotOpen, display + ": " + error);
    if (const auto unsafe = UnsafeRecordsFile(file, "the records database"))
        throw RecordsError(Kind::Unsafe, display + ": " + *unsafe);
    if (fs::exists(file, ec))
        return;
#ifndef _WIN32
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && errno != EEXIST)
        throw RecordsError(Kind::CannotOpen,
                           display + ": cannot create the file: " + std::strerror(errno));
    if (fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
    } else if (const auto unsafe = UnsafeRecordsFile(file, "the records database")) {
        throw RecordsError(Kind::Unsafe, display + ": " + *unsafe); // someone else's, made just now
    }
#endif
}

bool Retriable(const QSqlError& e, bool postgres) {
    const QString code = e.nativeErrorCode();
    if (postgres)
        return code == QLatin1String("40001") || code == QLatin1String("40P01");
    return code == QLatin1String("5") || code == QLatin1String("6"); // busy, locked
}

std::atomic<int> connectionCounter{0};

// The server gives a statement up after its time-out; past that and this grace, it is
// not answering at all.
constexpr int kWatchGraceSeconds = 3;

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

} // namespace

void EnsureQtCoreApplication(const char* programName) {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static std::string name;
    name = programName;
    static char* argv[] = {name.data(), nullptr};
    static QCoreApplication app(argc, argv);
}

struct RecordsRepository::Impl {
    QString connection;
    bool postgres = false;
    std::string display;
    std::map<std::string, QSqlQuery> prepared;
    std::unique_ptr<CallWatch> watch;
    int statementSeconds = 30;
    bool lostConnection = false; // given up by the watch: every later call fails at once

    QSqlDatabase db() const { return QSqlDatabase::database(connection, false); }

    // One database call: bounded by the watch from begin to end.
    struct Call {
        Impl& d;
        explicit Call(Impl& impl) : d(impl) {
            if (d.watch)
                d.watch->begin();
        }
        ~Call() {
            if (d.watch)
                d.watch->end();
        }
    };

    // Why a statement failed, in one line; a call the watch gave up says so.
    std::string failure(const QSqlError& e) {
        if (watch && watch->fired()) {
            lostConnection = postgres; // its socket is shut down
            if (watch->stopped())
                return "given up: the program is stopping";
            if (!postgres)
                return "the database is locked by another program (waited " +
                       std::to_string(kSqliteLockWait.count() / 1000) + " s; try again when it is done)";
            return "the server did not answer within " + std::to_string(statementSeconds + kWatchGraceSeconds) +
                   " s (frozen or overloaded?); the connection was given up";
        }
        std::string text = ErrorText(e);
        if (!postgres && (e.nativeErrorCode() == QLatin1String("5") || e.nativeErrorCode() == QLatin1String("6")))
            text = "the database is locked by another program (" + text + ")";
        return text;
    }

    void requireConnection() {
        if (lostConnection)
            throw RecordsError(Kind::CannotOpen,
                               display + ": the connection was given up after the server did not answer");
        if (DatabaseCallsAborted())
            throw RecordsError(Kind::CannotOpen, display + ": given up: the program is stopping");
    }

    ~Impl() {
        prepared.clear();
        {
            QSqlDatabase d = db();
            if (d.isOpen())
                d.close();
        }
        watch.reset();
        QSqlDatabase::removeDatabase(connection);
    }

    // A statement prepared once per connection and reused.
    QSqlQuery& statement(const std::string& sql) {
        auto it = prepared.find(sql);
        if (it == prepared.end()) {
            QSqlQuery q(db());
            if (!q.prepare(Q(sql)))
                throw SqlFailure{q.lastError()};
            it = prepared.emplace(sql, std::move(q)).first;
        }
        it->second.finish();
        return it->second;
    }

    QSqlQuery& run(const std::string& sql, const QVariantList& values) {
        if (watch)
            watch->renew();
        QSqlQuery& q = statement(sql);
        for (int i = 0; i < values.size(); ++i)
            q.bindValue(i, values[i]);
        if (!q.exec())
            throw SqlFailure{q.lastError()};
        return q;
    }

    void plain(const std::string& sql) {
        if (sql.empty())
            return; // a statement of the other dialect
        if (watch)
            watch->renew();
        QSqlQuery q(db());
        if (!q.exec(Q(sql)))
            throw SqlFailure{q.lastError()};
    }

    // The statement in this database's dialect; empty when it is the other dialect's.
    std::string dialect(std::string sql) const {
        constexpr std::string_view pg = "pg:", lite = "sqlite:";
        if (sql.compare(0, pg.size(), pg) == 0) {
            if (!postgres)
                return {};
            sql.erase(0, pg.size());
        } else if (sql.compare(0, lite.size(), lite) == 0) {
            if (postgres)
                return {};
            sql.erase(0, lite.size());
        }
        const std::pair<std::string, std::string> tokens[] = {
            {"{ID}", postgres ? "BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY" : "INTEGER PRIMARY KEY"},
            {"{NOW}", postgres ? "CAST(EXTRACT(EPOCH FROM now()) AS BIGINT)" : "CAST(strftime('%s', 'now') AS INTEGER)"},
            {"{LOGIN}", postgres ? "session_user" : "NULL"},
        };
        for (const auto& [token, text] : tokens)
            for (std::size_t at; (at = sql.find(token)) != std::string::npos;)
                sql.replace(at, token.size(), text);
        return sql;
    }

    // Runs fn in one transaction; a serialization failure or a busy database is retried
    // a bounded number of times, anything else rolls back and fails.
    template <typename Fn>
    auto transact(const std::string& what, Fn&& fn) -> decltype(fn()) {
        constexpr int kAttempts = 8;
        std::minstd_rand jitter(static_cast<unsigned>(std::hash<std::thread::id>{}(std::this_thread::get_id())));
        requireConnection();
        Call call(*this);
        for (int attempt = 1;; ++attempt) {
            try {
                plain(postgres ? "BEGIN" : "BEGIN IMMEDIATE");
                try {
                    auto result = fn();
                    for (auto& entry : prepared)
                        entry.second.finish();
                    plain("COMMIT");
                    return result;
                } catch (...) {
                    for (auto& entry : prepared)
                        entry.second.finish();
                    QSqlQuery(db()).exec(QStringLiteral("ROLLBACK"));
                    throw;
                }
            } catch (const SqlFailure& f) {
                // A lock waited for up to its bound is not waited for again.
                if (attempt < kAttempts && Retriable(f.error, postgres) && !(watch && watch->fired())) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5 * attempt + jitter() % 20));
                    continue;
                }
                throw RecordsError(Kind::WriteFailed, display + ": cannot " + what + ": " + failure(f.error));
            }
        }
    }

    // Reads outside a transaction: a failure is reported the same way.
    template <typename Fn>
    auto read(const std::string& what, Fn&& fn) -> decltype(fn()) {
        requireConnection();
        Call call(*this);
        try {
            auto result = fn();
            for (auto& entry : prepared)
                entry.second.finish();
            return result;
        } catch (const SqlFailure& f) {
            for (auto& entry : prepared)
                entry.second.finish();
            throw RecordsError(Kind::WriteFailed, display + ": cannot " + what + ": " + failure(f.error));
        }
    }

    // The schema version on disk: 0 for a database without tables.
    int storedVersion() {
        const QStringList tables = db().tables(QSql::Tables);
        if (db().lastError().isValid() && tables.isEmpty())
            throw SqlFailure{db().lastError()};
        if (tables.isEmpty())
            return 0;
        if (!tables.contains(QStringLiteral("schema_version"), Qt::CaseInsensitive))
            return -1;
        QSqlQuery q(db());
        if (!q.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")))
            throw SqlFailure{q.lastError()};
        return q.next() ? q.value(0).toInt() : 0;
    }

    std::int64_t dosimeterId(const std::string& serial) {
        run("INSERT INTO dosimeters (serial) VALUES (?) ON CONFLICT (serial) DO NOTHING", {Q(serial)});
        QSqlQuery& q = run("SELECT id FROM dosimeters WHERE serial = ?", {Q(serial)});
        if (!q.next())
            throw SqlFailure{QSqlError(QStringLiteral("dosimeter row vanished"), {}, QSqlError::UnknownError)};
        return q.value(0).toLongLong();
    }

    std::optional<std::int64_t> knownDosimeterId(const std::string& serial) {
        QSqlQuery& q = run("SELECT id FROM dosimeters WHERE serial = ?", {Q(serial)});
        if (!q.next())
            return std::nullopt;
        return q.value(0).toLongLong();
    }

    // The dosimeter's id; a serial the database does not hold is refused.
    qlonglong requireDosimeterId(const std::string& serial) {
        const std::optional<std::int64_t> id = knownDosimeterId(serial);
        if (!id)
            throw RecordsError(Kind::UnknownSerial, "no dosimeter " + serial + " in " + display);
        return *id;
    }

    // Inserts an event row keyed by (dosimeter, time); the row already there wins.
    Stored insertEvent(const std::string& table, const std::string& columns, std::int64_t dosimeter,
                       std::int64_t at, const QVariantList& rest) {
        std::string marks = "?, ?";
        for (int i = 0; i < rest.size(); ++i)
            marks += ", ?";
        QVariantList values{static_cast<qlonglong>(dosimeter), static_cast<qlonglong>(at)};
        values += rest;
        QSqlQuery& q = run("INSERT INTO " + table + " (dosimeter_id, taken_at, " + columns + ") VALUES (" +
                               marks + ") ON CONFLICT (dosimeter_id, taken_at) DO NOTHING RETURNING id",
                           values);
        if (q.next())
            return {q.value(0).toLongLong(), true};
        QSqlQuery& existing = run("SELECT id FROM " + table + " WHERE dosimeter_id = ? AND taken_at = ?",
                                  {static_cast<qlonglong>(dosimeter), static_cast<qlonglong>(at)});
        if (!existing.next())
            throw SqlFailure{QSqlError(QStringLiteral("row vanished"), {}, QSqlError::UnknownError)};
        return {existing.value(0).toLongLong(), false};
    }

    // A row stored before readouts had a content key (schema version 1) holding what r
    // holds: the same model and parameters as received (with them the total's text), or,
    // without a total's text, the same total.
    std::optional<std::int64_t> sameOlderReadout(std::int64_t dosimeter, const ReadoutInput& r,
                                                 const TotalAsRead& total) {
        // Found once through a small index of such rows; none are made after the upgrade.
        if (!olderReadouts)
            olderReadouts = run("SELECT 1 FROM readouts WHERE content_key = '' LIMIT 1", {}).next();
        if (!*olderReadouts)
            return std::nullopt;
        std::vector<std::int64_t> candidates;
        {
            QSqlQuery& q = run("SELECT id, model, total_dose, total_text FROM readouts"
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
            QSqlQuery& q = run("SELECT key, raw_value FROM readout_parameters WHERE readout_id = ? ORDER BY position",
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
    Stored storeReadout(const ReadoutInput& r, std::int64_t dosimeter) {
        const TotalAsRead total = ReadTotal(r);
        if (const std::optional<std::int64_t> older = sameOlderReadout(dosimeter, r, total))
            return {*older, false};
        const std::string key = ContentKey(r, total);
        const QVariantList where{static_cast<qlonglong>(dosimeter), static_cast<qlonglong>(r.at), Q(key)};
        QSqlQuery& q = run("INSERT INTO readouts (dosimeter_id, taken_at, content_key, station, operator_name, model,"
                           " total_dose, total_text) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"
                           " ON CONFLICT (dosimeter_id, taken_at, content_key) DO NOTHING RETURNING id",
                           where + QVariantList{Q(r.origin.station), Q(r.origin.operatorName), Q(r.model),
                                                OptionalDouble(total.dose),
                                                total.text ? QVariant(Q(*total.text))
                                                           : QVariant(QMetaType(QMetaType::QString))});
        if (!q.next()) {
            QSqlQuery& existing = run("SELECT id FROM readouts WHERE dosimeter_id = ? AND taken_at = ?"
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
            std::string sql = "INSERT INTO readout_parameters (readout_id, position, key, raw_value) VALUES ";
            QVariantList values;
            for (std::size_t i = first; i < first + rows; ++i) {
                sql += i == first ? "(?, ?, ?, ?)" : ", (?, ?, ?, ?)";
                values += QVariantList{static_cast<qlonglong>(stored.id), static_cast<int>(i + 1),
                                       Q(r.parameters[i].key), Q(r.parameters[i].raw)};
            }
            run(sql, values);
        }
        return stored;
    }

    // Whether rows of schema version 1 (no content key) exist; asked once.
    std::optional<bool> olderReadouts;

    // One transaction for all of them; progress counted in records.
    std::vector<Stored> storeDownloads(const std::vector<const HistoryDownloadInput*>& downloads,
                                       const StoreProgress& progress);
};

RecordsRepository::RecordsRepository(DatabaseUrl url, std::unique_ptr<Impl> impl)
    : url_(std::move(url)), impl_(std::move(impl)) {}

RecordsRepository::~RecordsRepository() = default;

int RecordsRepository::currentSchemaVersion() { return static_cast<int>(SchemaMigrations().size()); }

std::unique_ptr<RecordsRepository> RecordsRepository::open(const std::string& urlText, Access access) {
    std::string error;
    const std::optional<DatabaseUrl> url = ParseDatabaseUrl(urlText, &error);
    if (!url)
        throw RecordsError(Kind::BadUrl, error);
    return open(*url, access);
}

std::unique_ptr<RecordsRepository> RecordsRepository::open(const DatabaseUrl& url, Access access) {
    auto impl = std::make_unique<Impl>();
    impl->postgres = url.kind == DatabaseUrl::Kind::Postgres;
    impl->display = url.displayName();
    impl->connection = QStringLiteral("dm-records-%1").arg(connectionCounter.fetch_add(1));
    const std::string& display = impl->display;

    const QString driver = impl->postgres ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
    if (!QSqlDatabase::isDriverAvailable(driver)) {
        QSqlDatabase::removeDatabase(impl->connection);
        throw RecordsError(Kind::CannotOpen, display + ": the Qt SQL driver " + driver.toStdString() +
                                                 " is not installed");
    }
    if (DatabaseCallsAborted()) {
        QSqlDatabase::removeDatabase(impl->connection);
        throw RecordsError(Kind::CannotOpen, display + ": given up: the program is stopping");
    }
    if (std::error_code ec; !impl->postgres && access == Access::ForReading && !std::filesystem::exists(url.path, ec)) {
        QSqlDatabase::removeDatabase(impl->connection);
        throw RecordsError(Kind::CannotOpen, display + ": no records database there (a command that only reads"
                                                       " makes none; is the path right?)");
    }
    if (!impl->postgres)
        PrepareSqliteFile(url.path, display);
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, impl->connection);
    std::chrono::milliseconds bound = kSqliteLockWait;
    if (impl->postgres) {
        db.setHostName(Q(url.socketDir.empty() ? url.host : url.socketDir));
        db.setPort(url.port);
        db.setDatabaseName(Q(url.databaseName));
        db.setUserName(Q(url.user));
        if (!url.password.empty())
            db.setPassword(Q(url.password));
        // Bounded waits: connecting (connect_timeout), and a server that vanishes
        // mid-query (keep-alives); a frozen one is the watch's.
        db.setConnectOptions(Q(PostgresConnectOptions(url)));
        impl->statementSeconds = url.statementTimeout;
        bound = std::chrono::seconds(url.statementTimeout + kWatchGraceSeconds);
    } else {
        db.setDatabaseName(Q(url.path));
    }
    if (!db.open())
        throw RecordsError(Kind::CannotOpen, display + ": cannot open the database: " + ErrorText(db.lastError()));
    impl->watch = std::make_unique<CallWatch>(impl->connection, bound);
    if (!impl->watch->attach(db) && !impl->postgres)
        QSqlQuery(db).exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(kSqliteLockWait.count()));

    Impl& d = *impl;
    try {
        Impl::Call call(d);
        if (!impl->postgres) {
            // Reading the schema first tells a foreign file apart without writing to it.
            QSqlQuery probe(db);
            if (!probe.exec(QStringLiteral("PRAGMA schema_version"))) {
                const QSqlError e = probe.lastError();
                if (e.nativeErrorCode() == QLatin1String("26"))
                    throw RecordsError(Kind::NotADatabase, display + ": not a database");
                throw SqlFailure{e};
            }
        }
        int version = d.storedVersion();
        const int current = currentSchemaVersion();
        if (version < 0)
            throw RecordsError(Kind::NotADatabase,
                               display + ": not a records database (it holds other tables)");
        if (version > current)
            throw RecordsError(Kind::NewerSchema,
                               display + ": written by a newer version of the program (schema " +
                                   std::to_string(version) + ", this one knows up to " +
                                   std::to_string(current) + "); left untouched");
        if (impl->postgres) {
            d.plain("SET statement_timeout = " + std::to_string(url.statementTimeout * 1000));
            // The server's notices and warnings (a GRANT it ignored, one per column) would go
            // to stderr through libpq by the hundred; an error says what failed, in one line.
            d.plain("SET client_min_messages = error");
        } else {
            d.plain("PRAGMA foreign_keys = ON");
            d.plain("PRAGMA journal_mode = WAL");
            d.plain("PRAGMA synchronous = FULL");
        }
        if (version < current) {
            d.transact("create the records schema", [&] {
                // Another station may be upgrading the same database right now.
                if (d.postgres)
                    d.plain("SELECT pg_advisory_xact_lock(7317004)");
                int now = d.storedVersion();
                if (now < 0 || now > current)
                    throw SqlFailure{QSqlError(QStringLiteral("schema changed by another program"), {},
                                               QSqlError::UnknownError)};
                for (; now < current; ++now) {
                    for (const std::string& sql : SchemaMigrations()[static_cast<std::size_t>(now)])
                        if (const std::string text = d.dialect(sql); !text.empty())
                            d.plain(text);
                    if (now > 0)
                        d.run("UPDATE schema_version SET version = ?", {now + 1});
                }
                return 0;
            });
        }
    } catch (const SqlFailure& f) {
        throw RecordsError(Kind::CannotOpen, display + ": cannot open the database: " + d.failure(f.error));
    }
    return std::unique_ptr<RecordsRepository>(new RecordsRepository(url, std::move(impl)));
}

int RecordsRepository::schemaVersion() const {
    return impl_->read("read the schema version", [&] { return impl_->storedVersion(); });
}

Stored RecordsRepository::addReadout(const ReadoutInput& r) {
    return impl_->transact("store the readout of " + r.serial, [&] {
        return impl_->storeReadout(r, impl_->dosimeterId(r.serial));
    });
}

std::vector<Stored> RecordsRepository::addReadouts(const std::vector<ReadoutInput>& readouts,
                                                   const StoreProgress& progress) {
    return impl_->transact("store " + std::to_string(readouts.size()) + " readouts", [&] {
        std::map<std::string, std::int64_t> dosimeters; // looked up once per serial
        std::vector<Stored> out;
        out.reserve(readouts.size());
        for (const ReadoutInput& r : readouts) {
            auto known = dosimeters.find(r.serial);
            if (known == dosimeters.end())
                known = dosimeters.emplace(r.serial, impl_->dosimeterId(r.serial)).first;
            out.push_back(impl_->storeReadout(r, known->second));
            if (progress)
                progress(out.size(), readouts.size());
        }
        return out;
    });
}

Stored RecordsRepository::addHistoryDownload(const HistoryDownloadInput& h) {
    return impl_->storeDownloads({&h}, {}).front();
}

std::vector<Stored> RecordsRepository::addHistoryDownloads(const std::vector<HistoryDownloadInput>& downloads,
                                                           const StoreProgress& progress) {
    std::vector<const HistoryDownloadInput*> list;
    for (const HistoryDownloadInput& h : downloads)
        list.push_back(&h);
    return impl_->storeDownloads(list, progress);
}

std::vector<Stored> RecordsRepository::Impl::storeDownloads(const std::vector<const HistoryDownloadInput*>& downloads,
                                                            const StoreProgress& progress) {
    const std::string what = downloads.size() == 1 ? "the dose history of " + downloads.front()->serial
                                                   : std::to_string(downloads.size()) + " dose histories";
    std::size_t total = 0;
    for (const HistoryDownloadInput* h : downloads)
        total += h->records.size();
    return transact("store " + what, [&] {
        Impl& d = *this;
        std::vector<Stored> out;
        std::size_t done = 0;
        for (const HistoryDownloadInput* download : downloads) {
            const HistoryDownloadInput& h = *download;
            const std::int64_t dosimeter = d.dosimeterId(h.serial);
            const Stored stored =
                d.insertEvent("history_downloads", "station, operator_name, record_interval, layout", dosimeter,
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
                std::string sql = "INSERT INTO history_records (download_id, section, number, seconds, dose_text,"
                                  " dose, coefficient) VALUES ";
                QVariantList values;
                for (std::size_t i = first; i < first + rows; ++i) {
                    const ArchiveRecord& rec = h.records[i];
                    const bool neutron = rec.section == ArchiveRecord::Section::Neutron;
                    sql += i == first ? "(?, ?, ?, ?, ?, ?, ?)" : ", (?, ?, ?, ?, ?, ?, ?)";
                    values += QVariantList{static_cast<qlonglong>(stored.id),
                                           neutron ? QStringLiteral("neutron") : QStringLiteral("gamma"), rec.number,
                                           OptionalInt(rec.seconds), Q(rec.doseText), rec.dose,
                                           neutron ? QVariant(Q(rec.coefficient)) : QVariant(QMetaType(QMetaType::QString))};
                }
                d.run(sql, values);
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
    return impl_->transact("store the erase of " + e.serial, [&] {
        Impl& d = *impl_;
        const std::int64_t dosimeter = d.dosimeterId(e.serial);
        return d.insertEvent("erase_events", "station, operator_name, total_dose_before", dosimeter, e.at,
                             {Q(e.origin.station), Q(e.origin.operatorName), OptionalDouble(e.totalDoseBefore)});
    });
}

Stored RecordsRepository::addChanges(const ChangesInput& c) {
    return impl_->transact("store the changes sent to " + c.serial, [&] {
        Impl& d = *impl_;
        const std::int64_t dosimeter = d.dosimeterId(c.serial);
        const Stored stored = d.insertEvent("change_sets", "station, operator_name", dosimeter, c.at,
                                            {Q(c.origin.station), Q(c.origin.operatorName)});
        if (!stored.isNew)
            return stored;
        int position = 0;
        for (const ChangeSent& change : c.changes)
            d.run("INSERT INTO changes_sent (change_set_id, position, key, before_value, after_value, taken)"
                  " VALUES (?, ?, ?, ?, ?, ?)",
                  {static_cast<qlonglong>(stored.id), ++position, Q(change.key), Q(change.before),
                   Q(change.after), change.taken ? 1 : 0});
        return stored;
    });
}

bool RecordsRepository::knowsSerial(const std::string& serial) const {
    return impl_->read("look up " + serial, [&] { return impl_->knownDosimeterId(serial).has_value(); });
}

std::vector<DosimeterSummary> RecordsRepository::dosimeters() const {
    auto list = impl_->read("list the dosimeters", [&] {
        QSqlQuery& q = impl_->run(
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
    return impl_->read("read the readouts of " + serial, [&] {
        Impl& d = *impl_;
        const qlonglong id = d.requireDosimeterId(serial);
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
    return impl_->read("read the history of " + serial, [&] {
        Impl& d = *impl_;
        const qlonglong id = d.requireDosimeterId(serial);
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
    return impl_->read("read the dose histories of " + serial, [&] {
        Impl& d = *impl_;
        const qlonglong id = d.requireDosimeterId(serial);
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
    return impl_->read("read the parameters of readout " + std::to_string(readoutId), [&] {
        QSqlQuery& q = impl_->run("SELECT key, raw_value FROM readout_parameters WHERE readout_id = ?"
                                  " ORDER BY position",
                                  {static_cast<qlonglong>(readoutId)});
        std::vector<StoredParameter> out;
        while (q.next())
            out.push_back({S(q.value(0)), S(q.value(1))});
        return out;
    });
}

void RecordsRepository::transaction(const std::string& what, const std::function<void(QSqlDatabase&)>& fn) {
    impl_->transact(what, [&] {
        try {
            QSqlDatabase db = impl_->db();
            fn(db);
        } catch (const QSqlError& e) {
            throw SqlFailure{e};
        }
        return 0;
    });
}

void RecordsRepository::reading(const std::string& what, const std::function<void(QSqlDatabase&)>& fn) const {
    impl_->read(what, [&] {
        try {
            QSqlDatabase db = impl_->db();
            fn(db);
        } catch (const QSqlError& e) {
            throw SqlFailure{e};
        }
        return 0;
    });
}

} // namespace dm::records
