#include "records/record_spool.h"

#include "records/private_files.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <set>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace dm::records {
namespace {

using Kind = RecordsError::Kind;

// A spooled row that is not a record this program wrote is kept, marked with this, and
// never tried.
constexpr const char* kUnreadable = "not a record this program wrote";
// The first pause after a failed try, and the longest.
constexpr auto kFirstPause = std::chrono::seconds(5);
constexpr auto kLongestPause = std::chrono::seconds(120);

std::atomic<int> spoolCounter{0};

QString Q(const std::string& s) { return QString::fromStdString(s); }

void MakeOwnerOnlyFile(const std::filesystem::path& file) {
    // Each folder made 0700, whatever the umask.
    if (std::string error; !CreatePrivateFolders(file.parent_path(), &error))
        throw RecordsError(Kind::CannotOpen, "spool " + file.string() + ": " + error);
#ifndef _WIN32
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST)
        throw RecordsError(Kind::CannotOpen, "spool " + file.string() + ": " + std::strerror(errno));
    if (fd >= 0)
        ::close(fd);
#endif
}

QSqlQuery SpoolQuery(const std::string& connection, const QString& sql, const QVariantList& values,
                     const char* doing) {
    QSqlQuery q(QSqlDatabase::database(Q(connection), false));
    q.setForwardOnly(true);
    bool ok = q.prepare(sql);
    for (int i = 0; ok && i < values.size(); ++i)
        q.bindValue(i, values[i]);
    if (!ok || !q.exec())
        throw RecordsError(Kind::WriteFailed, std::string("cannot ") + doing + " the spool: " +
                                                  q.lastError().text().toStdString());
    return q;
}

// Which rows wait for a database.
const QString kForDatabase = QStringLiteral("set_aside IS NULL AND database = ?");

} // namespace

std::filesystem::path DefaultSpoolFile() {
    return std::filesystem::path(DefaultDatabaseUrlText().substr(7)).parent_path() / "records-spool.sqlite";
}

std::string SpoolDatabaseKey(const std::string& urlText) {
    const std::optional<DatabaseUrl> url = ParseDatabaseUrl(urlText, nullptr);
    if (!url)
        return "(a malformed database URL)";
    if (url->kind != DatabaseUrl::Kind::Sqlite)
        return url->displayName();
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(url->path, ec);
    return "sqlite:" + (ec ? url->path : absolute.lexically_normal().string());
}

std::chrono::seconds RetryPause(int failures) {
    std::chrono::seconds pause = kFirstPause;
    for (int i = 1; i < failures && pause < kLongestPause; ++i)
        pause *= 2;
    return std::min(pause, std::chrono::seconds(kLongestPause));
}

RecordSpool::RecordSpool(const std::filesystem::path& file)
    : connection_("dm-spool-" + std::to_string(spoolCounter.fetch_add(1))) {
    MakeOwnerOnlyFile(file);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), Q(connection_));
    db.setDatabaseName(QString::fromStdString(file.string()));
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
    std::string why;
    if (!db.open()) {
        why = db.lastError().text().toStdString();
    } else {
        QSqlQuery q(db);
        // A database of another kind (the records themselves, say) is never written into.
        bool other = false, spool = false;
        if (!q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
            why = q.lastError().text().toStdString();
        while (q.next()) {
            const QString table = q.value(0).toString();
            spool = spool || table == QLatin1String("spool");
            other = other || (table != QLatin1String("spool") && table != QLatin1String("sqlite_sequence"));
        }
        if (why.empty() && other && !spool)
            why = "not a records spool";
        // WAL: the window appending never waits for the recorder reading; FULL: a record
        // is on the disk when append() returns.
        if (why.empty())
            q.exec(QStringLiteral("PRAGMA journal_mode = WAL"));
        if (why.empty() &&
            (!q.exec(QStringLiteral("PRAGMA synchronous = FULL")) ||
             !q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS spool (id INTEGER PRIMARY KEY AUTOINCREMENT, "
                                    "entry TEXT NOT NULL, set_aside TEXT)"))))
            why = q.lastError().text().toStdString();
        // Columns an older spool lacks. Two programs opening one old spool at once: the
        // second finds the column made.
        std::set<QString> columns;
        if (why.empty() && q.exec(QStringLiteral("PRAGMA table_info(spool)")))
            while (q.next())
                columns.insert(q.value(1).toString());
        for (const auto& [name, type] : {std::pair<const char*, const char*>{"database", "TEXT"},
                                         {"spooled_at", "INTEGER"},
                                         {"attempts", "INTEGER NOT NULL DEFAULT 0"},
                                         {"last_error", "TEXT"},
                                         {"next_try", "INTEGER"},
                                         {"refused_alone", "INTEGER NOT NULL DEFAULT 0"}}) {
            if (!why.empty() || columns.count(QString::fromLatin1(name)))
                continue;
            if (!q.exec(QStringLiteral("ALTER TABLE spool ADD COLUMN %1 %2").arg(QLatin1String(name), QLatin1String(type))) &&
                !q.lastError().text().contains(QStringLiteral("duplicate column")))
                why = q.lastError().text().toStdString();
        }
        // An older version set aside what the database refused three times; nothing is
        // given up now, so those wait again.
        if (why.empty()) {
            q.prepare(QStringLiteral("UPDATE spool SET last_error = set_aside, set_aside = NULL "
                                     "WHERE set_aside IS NOT NULL AND set_aside <> ?"));
            q.addBindValue(QString::fromLatin1(kUnreadable));
            if (!q.exec())
                why = q.lastError().text().toStdString();
        }
    }
    if (!why.empty()) {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(Q(connection_));
        throw RecordsError(Kind::CannotOpen, "spool " + file.string() + ": " + why);
    }
}

RecordSpool::~RecordSpool() {
    QSqlDatabase::database(Q(connection_), false).close();
    QSqlDatabase::removeDatabase(Q(connection_));
}

std::int64_t RecordSpool::append(const RecordEntry& entry, const std::string& database, UtcSeconds now) {
    QSqlQuery q = SpoolQuery(connection_, QStringLiteral("INSERT INTO spool (entry, database, spooled_at) VALUES (?, ?, ?)"),
                             {Q(EntryToJson(entry)), Q(database), static_cast<qlonglong>(now)}, "write");
    return q.lastInsertId().toLongLong();
}

std::vector<SpoolRow> RecordSpool::waitingFor(const std::string& database) {
    QSqlQuery q = SpoolQuery(connection_,
                             QStringLiteral("SELECT id, database, spooled_at, attempts, last_error, next_try, "
                                            "refused_alone FROM spool WHERE ") + kForDatabase +
                                 QStringLiteral(" ORDER BY id"),
                             {Q(database)}, "read");
    std::vector<SpoolRow> rows;
    while (q.next()) {
        SpoolRow r;
        r.row = q.value(0).toLongLong();
        r.database = q.value(1).toString().toStdString();
        r.spooledAt = q.value(2).toLongLong();
        r.attempts = q.value(3).toInt();
        r.lastError = q.value(4).toString().toStdString();
        if (!q.value(5).isNull())
            r.nextTry = q.value(5).toLongLong();
        r.refusedAlone = q.value(6).toInt() != 0;
        rows.push_back(std::move(r));
    }
    return rows;
}

std::optional<RecordEntry> RecordSpool::entry(std::int64_t row) {
    std::string text;
    {
        QSqlQuery q = SpoolQuery(connection_, QStringLiteral("SELECT entry FROM spool WHERE id = ?"),
                                 {static_cast<qlonglong>(row)}, "read");
        if (!q.next())
            return std::nullopt;
        text = q.value(0).toString().toStdString();
    }
    if (std::optional<RecordEntry> entry = EntryFromJson(text))
        return entry;
    SpoolQuery(connection_, QStringLiteral("UPDATE spool SET set_aside = ? WHERE id = ?"),
               {QString::fromLatin1(kUnreadable), static_cast<qlonglong>(row)}, "write");
    return std::nullopt;
}

std::vector<SpoolRow> RecordSpool::all() {
    QSqlQuery q = SpoolQuery(connection_,
                             QStringLiteral("SELECT id, database, spooled_at, attempts, last_error, next_try, "
                                            "refused_alone, entry, set_aside FROM spool ORDER BY id"),
                             {}, "read");
    std::vector<SpoolRow> rows;
    while (q.next()) {
        SpoolRow r;
        r.row = q.value(0).toLongLong();
        r.database = q.value(1).toString().toStdString();
        r.spooledAt = q.value(2).toLongLong();
        r.attempts = q.value(3).toInt();
        r.lastError = q.value(4).toString().toStdString();
        if (!q.value(5).isNull())
            r.nextTry = q.value(5).toLongLong();
        r.refusedAlone = q.value(6).toInt() != 0;
        r.entry = EntryFromJson(q.value(7).toString().toStdString());
        if (!r.entry) {
            r.lastError = kUnreadable;
            r.nextTry.reset();
        }
        rows.push_back(std::move(r));
    }
    return rows;
}

void RecordSpool::remove(std::int64_t row) {
    SpoolQuery(connection_, QStringLiteral("DELETE FROM spool WHERE id = ?"), {static_cast<qlonglong>(row)}, "write");
}

void RecordSpool::failed(std::int64_t row, const std::string& why, UtcSeconds nextTry, bool alone) {
    SpoolQuery(connection_,
               QStringLiteral("UPDATE spool SET attempts = attempts + 1, last_error = ?, next_try = ?, "
                              "refused_alone = ? WHERE id = ?"),
               {Q(why), static_cast<qlonglong>(nextTry), alone ? 1 : 0, static_cast<qlonglong>(row)}, "write");
}

void RecordSpool::failedAll(const std::string& database, const std::string& why, UtcSeconds nextTry,
                            std::int64_t except) {
    SpoolQuery(connection_,
               QStringLiteral("UPDATE spool SET attempts = attempts + 1, last_error = ?, next_try = ? "
                              "WHERE refused_alone = 0 AND id <> ? AND ") + kForDatabase,
               {Q(why), static_cast<qlonglong>(nextTry), static_cast<qlonglong>(except), Q(database)}, "write");
}

void RecordSpool::claimUnnamed(const std::string& database) {
    SpoolQuery(connection_, QStringLiteral("UPDATE spool SET database = ? WHERE database IS NULL"), {Q(database)},
               "write");
}

std::int64_t RecordSpool::count(const std::string& database) {
    QSqlQuery q = SpoolQuery(connection_, QStringLiteral("SELECT COUNT(*) FROM spool WHERE ") + kForDatabase,
                             {Q(database)}, "read");
    return q.next() ? q.value(0).toLongLong() : 0;
}

std::int64_t RecordSpool::count() {
    QSqlQuery q = SpoolQuery(connection_, QStringLiteral("SELECT COUNT(*) FROM spool WHERE set_aside IS NULL"), {},
                             "read");
    return q.next() ? q.value(0).toLongLong() : 0;
}

std::optional<UtcSeconds> RecordSpool::earliestTry(const std::string& database) {
    QSqlQuery q = SpoolQuery(connection_, QStringLiteral("SELECT MIN(next_try) FROM spool WHERE ") + kForDatabase,
                             {Q(database)}, "read");
    if (!q.next() || q.value(0).isNull())
        return std::nullopt;
    return q.value(0).toLongLong();
}

bool StoreEntry(RecordsRepository& repo, const RecordEntry& entry) {
    return std::visit(
        [&repo](const auto& e) {
            using T = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<T, ReadoutInput>)
                return repo.addReadout(e).isNew;
            else if constexpr (std::is_same_v<T, HistoryDownloadInput>)
                return repo.addHistoryDownload(e).isNew;
            else if constexpr (std::is_same_v<T, EraseInput>)
                return repo.addErase(e).isNew;
            else
                return repo.addChanges(e).isNew;
        },
        entry);
}

SpoolPass SendSpooled(RecordSpool& spool, const std::string& database, bool force, bool tryAll, UtcSeconds now,
                      const std::function<bool(const RecordEntry&)>& store) {
    SpoolPass pass;
    int refusedInARow = 0;
    for (const SpoolRow& row : spool.waitingFor(database)) {
        const bool due = force || !row.nextTry || *row.nextTry <= now || (tryAll && !row.refusedAlone);
        if (!due)
            continue;
        const std::optional<RecordEntry> entry = spool.entry(row.row);
        if (!entry)
            continue; // gone meanwhile (another program sent it), or not a record
        try {
            store(*entry);
        } catch (const RecordsError& e) {
            pass.error = e.what();
            const bool whole = e.kind() == Kind::CannotOpen || e.kind() == Kind::BadUrl ||
                               e.kind() == Kind::Unsafe || e.kind() == Kind::NotADatabase ||
                               e.kind() == Kind::NewerSchema;
            const UtcSeconds next = now + RetryPause(row.attempts + 1).count();
            if (!whole && ++refusedInARow < 2) {
                spool.failed(row.row, pass.error, next, true);
                continue;
            }
            // The database as a whole does not take records now (out of reach, read-only,
            // its disk full): everything waits, told why.
            pass.unreachable = true;
            spool.failed(row.row, pass.error, next, false);
            spool.failedAll(database, pass.error, next, row.row);
            break;
        }
        refusedInARow = 0;
        spool.remove(row.row);
        ++pass.stored;
    }
    return pass;
}

} // namespace dm::records
