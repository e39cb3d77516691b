#include "records/record_spool.h"

#include "records/private_files.h"

#include "qt/qt_text.h"
#include "records/sql_connection.h"

#include <QSqlQuery>

#include <algorithm>
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

// How long a spool call waits for another program writing it.
constexpr std::chrono::milliseconds kSpoolLockWait{2000};

using dm::Q;

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

// Which rows wait for a database.
constexpr const char* kForDatabase = "set_aside IS NULL AND database = ?";

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

RecordSpool::RecordSpool(const std::filesystem::path& file) {
    DatabaseUrl url;
    url.kind = DatabaseUrl::Kind::Sqlite;
    url.path = file.string();
    SqlConnection::Options options;
    options.display = "spool " + file.string();
    options.sqliteLockWait = kSpoolLockWait;
    options.givenUpOnStop = false; // it takes records while the program stops
    options.prepare = [&file] { MakeOwnerOnlyFile(file); };
    sql_ = SqlConnection::open(url, std::move(options));
    const std::string& display = sql_->display();
    try {
        sql_->read("open it", [&] {
            // A database of another kind (the records themselves, say) is never written into.
            bool other = false, spool = false;
            for (const std::string& table : sql_->tables()) {
                spool = spool || table == "spool";
                other = other || (table != "spool" && table != "sqlite_sequence");
            }
            if (other && !spool)
                throw RecordsError(Kind::CannotOpen, display + ": not a records spool");
        });
        // WAL: the window appending never waits for the writer reading; FULL: a record is
        // on the disk when append() returns.
        sql_->read("open it", [&] { sql_->startSession(); });
        sql_->transact("open it", [&] {
            sql_->execute("CREATE TABLE IF NOT EXISTS spool (id INTEGER PRIMARY KEY AUTOINCREMENT, "
                          "entry TEXT NOT NULL, set_aside TEXT)");
            // Columns an older spool lacks (another program opening it waits for this).
            std::set<std::string> columns;
            QSqlQuery& q = sql_->run("PRAGMA table_info(spool)");
            while (q.next())
                columns.insert(q.value(1).toString().toStdString());
            q.finish();
            for (const auto& [name, type] : {std::pair<const char*, const char*>{"database", "TEXT"},
                                             {"spooled_at", "INTEGER"},
                                             {"attempts", "INTEGER NOT NULL DEFAULT 0"},
                                             {"last_error", "TEXT"},
                                             {"next_try", "INTEGER"},
                                             {"refused_alone", "INTEGER NOT NULL DEFAULT 0"}})
                if (!columns.count(name))
                    sql_->execute(std::string("ALTER TABLE spool ADD COLUMN ") + name + " " + type);
            // An older version set aside what the database refused three times; nothing is
            // given up now, so those wait again.
            sql_->run("UPDATE spool SET last_error = set_aside, set_aside = NULL "
                      "WHERE set_aside IS NOT NULL AND set_aside <> ?",
                      {QString::fromLatin1(kUnreadable)});
        });
    } catch (const RecordsError& e) {
        throw RecordsError(Kind::CannotOpen, e.what());
    }
}

RecordSpool::~RecordSpool() = default;

std::int64_t RecordSpool::append(const RecordEntry& entry, const std::string& database, UtcSeconds now) {
    return sql_->transact("write to it", [&] {
        return sql_->run("INSERT INTO spool (entry, database, spooled_at) VALUES (?, ?, ?)",
                         {Q(EntryToJson(entry)), Q(database), static_cast<qlonglong>(now)})
            .lastInsertId()
            .toLongLong();
    });
}

namespace {

SpoolRow RowOf(const QSqlQuery& q) {
    SpoolRow r;
    r.row = q.value(0).toLongLong();
    r.database = q.value(1).toString().toStdString();
    r.spooledAt = q.value(2).toLongLong();
    r.attempts = q.value(3).toInt();
    r.lastError = q.value(4).toString().toStdString();
    if (!q.value(5).isNull())
        r.nextTry = q.value(5).toLongLong();
    r.refusedAlone = q.value(6).toInt() != 0;
    return r;
}

constexpr const char* kRowColumns = "SELECT id, database, spooled_at, attempts, last_error, next_try, refused_alone";

} // namespace

std::vector<SpoolRow> RecordSpool::waitingFor(const std::string& database) {
    return sql_->read("read it", [&] {
        QSqlQuery& q = sql_->run(std::string(kRowColumns) + " FROM spool WHERE " + kForDatabase + " ORDER BY id",
                                 {Q(database)});
        std::vector<SpoolRow> rows;
        while (q.next())
            rows.push_back(RowOf(q));
        return rows;
    });
}

std::optional<RecordEntry> RecordSpool::entry(std::int64_t row) {
    const std::optional<std::string> text = sql_->read("read it", [&]() -> std::optional<std::string> {
        QSqlQuery& q = sql_->run("SELECT entry FROM spool WHERE id = ?", {static_cast<qlonglong>(row)});
        if (!q.next())
            return std::nullopt;
        return q.value(0).toString().toStdString();
    });
    if (!text)
        return std::nullopt;
    if (std::optional<RecordEntry> entry = EntryFromJson(*text))
        return entry;
    sql_->transact("write to it", [&] {
        sql_->run("UPDATE spool SET set_aside = ? WHERE id = ?",
                  {QString::fromLatin1(kUnreadable), static_cast<qlonglong>(row)});
    });
    return std::nullopt;
}

std::vector<SpoolRow> RecordSpool::all() {
    return sql_->read("read it", [&] {
        QSqlQuery& q = sql_->run(std::string(kRowColumns) + ", entry FROM spool ORDER BY id");
        std::vector<SpoolRow> rows;
        while (q.next()) {
            SpoolRow r = RowOf(q);
            r.entry = EntryFromJson(q.value(7).toString().toStdString());
            if (!r.entry) {
                r.lastError = kUnreadable;
                r.nextTry.reset();
            }
            rows.push_back(std::move(r));
        }
        return rows;
    });
}

void RecordSpool::write(const std::string& sql, const QVariantList& values) {
    sql_->transact("write to it", [&] { sql_->run(sql, values); });
}

void RecordSpool::remove(std::int64_t row) {
    write("DELETE FROM spool WHERE id = ?", {static_cast<qlonglong>(row)});
}

void RecordSpool::failed(std::int64_t row, const std::string& why, UtcSeconds nextTry, bool alone) {
    write("UPDATE spool SET attempts = attempts + 1, last_error = ?, next_try = ?, refused_alone = ? WHERE id = ?",
          {Q(why), static_cast<qlonglong>(nextTry), alone ? 1 : 0, static_cast<qlonglong>(row)});
}

void RecordSpool::failedAll(const std::string& database, const std::string& why, UtcSeconds nextTry,
                            std::int64_t except) {
    write(std::string("UPDATE spool SET attempts = attempts + 1, last_error = ?, next_try = ? "
                      "WHERE refused_alone = 0 AND id <> ? AND ") + kForDatabase,
          {Q(why), static_cast<qlonglong>(nextTry), static_cast<qlonglong>(except), Q(database)});
}

void RecordSpool::claimUnnamed(const std::string& database) {
    write("UPDATE spool SET database = ? WHERE database IS NULL", {Q(database)});
}

std::int64_t RecordSpool::count(const std::string& database) {
    return sql_->read("read it", [&] {
        QSqlQuery& q = sql_->run(std::string("SELECT COUNT(*) FROM spool WHERE ") + kForDatabase, {Q(database)});
        return q.next() ? q.value(0).toLongLong() : 0;
    });
}

std::int64_t RecordSpool::count() {
    return sql_->read("read it", [&] {
        QSqlQuery& q = sql_->run("SELECT COUNT(*) FROM spool WHERE set_aside IS NULL");
        return q.next() ? q.value(0).toLongLong() : 0;
    });
}

std::optional<UtcSeconds> RecordSpool::earliestTry(const std::string& database) {
    return sql_->read("read it", [&]() -> std::optional<UtcSeconds> {
        QSqlQuery& q = sql_->run(std::string("SELECT MIN(next_try) FROM spool WHERE ") + kForDatabase, {Q(database)});
        if (!q.next() || q.value(0).isNull())
            return std::nullopt;
        return q.value(0).toLongLong();
    });
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
