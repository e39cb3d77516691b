#include "records/sql_connection.h"

#include "qt/qt_text.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QStringList>

#include <atomic>
#include <utility>

namespace dm::records {
namespace {

using Kind = RecordsError::Kind;
using dm::Q;

std::atomic<int> connectionCounter{0};

// The server gives a statement up after its time-out; past that and this grace, it is
// not answering at all.
constexpr int kWatchGraceSeconds = 3;

// Statements kept prepared per connection; past this, the cache starts again after a call
// (the statements of many rows a statement come in many lengths).
constexpr std::size_t kPreparedKept = 256;

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

bool SqliteBusy(const QSqlError& e) {
    return e.nativeErrorCode() == QLatin1String("5") || e.nativeErrorCode() == QLatin1String("6"); // busy, locked
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

std::unique_ptr<SqlConnection> SqlConnection::open(const DatabaseUrl& url, Options options) {
    std::unique_ptr<SqlConnection> c(new SqlConnection);
    c->postgres_ = url.kind == DatabaseUrl::Kind::Postgres;
    c->display_ = std::move(options.display);
    c->givenUpOnStop_ = options.givenUpOnStop;
    c->connection_ = QStringLiteral("dm-records-%1").arg(connectionCounter.fetch_add(1));
    const std::string& display = c->display_;

    const QString driver = c->postgres_ ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
    if (!QSqlDatabase::isDriverAvailable(driver))
        throw RecordsError(Kind::CannotOpen,
                           display + ": the Qt SQL driver " + driver.toStdString() + " is not installed");
    if (c->givenUpOnStop_ && DatabaseCallsAborted())
        throw RecordsError(Kind::CannotOpen, display + ": given up: the program is stopping");
    if (options.prepare)
        options.prepare();
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, c->connection_);
    std::chrono::milliseconds bound = options.sqliteLockWait;
    c->lockWait_ = options.sqliteLockWait;
    if (c->postgres_) {
        db.setHostName(Q(url.socketDir.empty() ? url.host : url.socketDir));
        db.setPort(url.port);
        db.setDatabaseName(Q(url.databaseName));
        db.setUserName(Q(url.user));
        if (!url.password.empty())
            db.setPassword(Q(url.password));
        // Bounded waits: connecting (connect_timeout), and a server that vanishes
        // mid-query (keep-alives); a frozen one is the watch's.
        db.setConnectOptions(Q(PostgresConnectOptions(url)));
        c->statementSeconds_ = url.statementTimeout;
        bound = std::chrono::seconds(url.statementTimeout + kWatchGraceSeconds);
    } else {
        db.setDatabaseName(Q(url.path));
    }
    if (!db.open())
        throw RecordsError(Kind::CannotOpen, display + ": cannot open the database: " + ErrorText(db.lastError()));
    c->watch_ = std::make_unique<CallWatch>(c->connection_, bound, c->givenUpOnStop_);
    if (!c->watch_->attach(db) && !c->postgres_)
        QSqlQuery(db).exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(bound.count()));
    return c;
}

SqlConnection::~SqlConnection() {
    prepared_.clear();
    {
        QSqlDatabase d = db();
        if (d.isOpen())
            d.close();
    }
    watch_.reset();
    QSqlDatabase::removeDatabase(connection_);
}

QSqlDatabase SqlConnection::db() const { return QSqlDatabase::database(connection_, false); }

void SqlConnection::startSession() {
    if (postgres_) {
        execute("SET statement_timeout = " + std::to_string(statementSeconds_ * 1000));
        // The server's notices and warnings (a GRANT it ignored, one per column) would go
        // to stderr through libpq by the hundred; an error says what failed, in one line.
        execute("SET client_min_messages = error");
    } else {
        execute("PRAGMA foreign_keys = ON");
        execute("PRAGMA journal_mode = WAL");
        execute("PRAGMA synchronous = FULL");
    }
}

std::string SqlConnection::failure(const QSqlError& e) {
    if (watch_ && watch_->fired()) {
        lostConnection_ = postgres_; // its socket is shut down
        if (watch_->stopped())
            return "given up: the program is stopping";
        if (!postgres_)
            return "the database is locked by another program (waited " +
                   std::to_string(std::chrono::duration_cast<std::chrono::seconds>(lockWait_).count()) +
                   " s; try again when it is done)";
        return "the server did not answer within " + std::to_string(statementSeconds_ + kWatchGraceSeconds) +
               " s (frozen or overloaded?); the connection was given up";
    }
    std::string text = ErrorText(e);
    if (!postgres_ && SqliteBusy(e))
        text = "the database is locked by another program (" + text + ")";
    return text;
}

void SqlConnection::fail(Kind kind, const std::string& what, const QSqlError& e) {
    throw RecordsError(kind, display_ + ": cannot " + what + ": " + failure(e));
}

void SqlConnection::requireConnection() {
    if (lostConnection_)
        throw RecordsError(Kind::CannotOpen, display_ + ": the connection was given up after the server did not answer");
    if (givenUpOnStop_ && DatabaseCallsAborted())
        throw RecordsError(Kind::CannotOpen, display_ + ": given up: the program is stopping");
}

bool SqlConnection::retriable(const QSqlError& e) const {
    if (postgres_)
        return e.nativeErrorCode() == QLatin1String("40001") || e.nativeErrorCode() == QLatin1String("40P01");
    return SqliteBusy(e);
}

void SqlConnection::finishStatements() {
    for (auto& entry : prepared_)
        entry.second.finish();
    if (prepared_.size() > kPreparedKept)
        prepared_.clear();
}

void SqlConnection::rollback() { QSqlQuery(db()).exec(QStringLiteral("ROLLBACK")); }

QSqlQuery& SqlConnection::run(const std::string& sql, const QVariantList& values) {
    if (watch_)
        watch_->renew(); // a statement may take up to the time-out again
    auto it = prepared_.find(sql);
    if (it == prepared_.end()) {
        QSqlQuery q(db());
        q.setForwardOnly(true);
        if (!q.prepare(Q(sql)))
            throw SqlFailure{q.lastError()};
        it = prepared_.emplace(sql, std::move(q)).first;
    }
    QSqlQuery& q = it->second;
    q.finish();
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i]);
    if (!q.exec())
        throw SqlFailure{q.lastError()};
    return q;
}

void SqlConnection::execute(const std::string& sql) {
    const std::string text = dialect(sql);
    if (text.empty())
        return; // a statement of the other dialect
    if (watch_)
        watch_->renew();
    QSqlQuery q(db());
    if (!q.exec(Q(text)))
        throw SqlFailure{q.lastError()};
}

std::string SqlConnection::dialect(std::string sql) const {
    constexpr std::string_view pg = "pg:", lite = "sqlite:";
    if (sql.compare(0, pg.size(), pg) == 0) {
        if (!postgres_)
            return {};
        sql.erase(0, pg.size());
    } else if (sql.compare(0, lite.size(), lite) == 0) {
        if (postgres_)
            return {};
        sql.erase(0, lite.size());
    }
    const std::pair<std::string, std::string> tokens[] = {
        {"{ID}", postgres_ ? "BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY" : "INTEGER PRIMARY KEY"},
        {"{NOW}", postgres_ ? "CAST(EXTRACT(EPOCH FROM now()) AS BIGINT)" : "CAST(strftime('%s', 'now') AS INTEGER)"},
        {"{LOGIN}", postgres_ ? "session_user" : "NULL"},
    };
    for (const auto& [token, text] : tokens)
        for (std::size_t at; (at = sql.find(token)) != std::string::npos;)
            sql.replace(at, token.size(), text);
    return sql;
}

std::vector<std::string> SqlConnection::tables() {
    QSqlDatabase d = db();
    const QStringList tables = d.tables(QSql::Tables);
    if (d.lastError().isValid() && tables.isEmpty())
        throw SqlFailure{d.lastError()};
    std::vector<std::string> out;
    for (const QString& t : tables)
        out.push_back(t.toStdString());
    return out;
}

} // namespace dm::records
