#pragma once
// The records' one way to a database (the records themselves, or the station's spool):
// one connection, one helper every statement runs through, one error a failed statement
// raises, the retry of a busy database, the two dialects, and the bound on every call.
//
// A statement runs inside a call: transact() (one transaction, retried when the database
// was busy or a serialization failed) or read(). Within it, run() prepares a statement once
// per connection and binds its values (values are never spliced into SQL); a failure throws
// SqlFailure, which the call turns into a RecordsError naming the database. Each call is
// bounded by the call watch (call_watch.h), each statement renewing the bound.
// A connection belongs to the thread that opened it (a Qt SQL rule).
#include "records/call_watch.h"
#include "records/database_url.h"
#include "records/records_error.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

class QSqlDatabase;

namespace dm::records {

namespace sql {
// A column's text as our UTF-8 (Q() in qt/qt_text.h goes the other way).
inline std::string S(const QVariant& v) { return v.toString().toStdString(); }
} // namespace sql

// A statement that failed: what the driver said. Raised only inside a call.
struct SqlFailure {
    QSqlError error;
};

class SqlConnection {
public:
    struct Options {
        std::string display; // how messages name the database
        // How long an SQLite call waits for another program's lock.
        std::chrono::milliseconds sqliteLockWait = kSqliteLockWait;
        // False for the spool: it still takes records while the program stops.
        bool givenUpOnStop = true;
        // Runs once the driver is known to be there, before connecting: makes an SQLite
        // file the way its owner wants it (throwing RecordsError to refuse it).
        std::function<void()> prepare;
    };

    // Connects (an SQLite file as it is: the caller makes it first). Throws
    // RecordsError(CannotOpen).
    static std::unique_ptr<SqlConnection> open(const DatabaseUrl& url, Options options);
    ~SqlConnection();
    SqlConnection(const SqlConnection&) = delete;
    SqlConnection& operator=(const SqlConnection&) = delete;

    bool postgres() const { return postgres_; }
    const std::string& display() const { return display_; }

    // Within a call: the settings every session of the records runs with (SQLite: WAL,
    // synced writes, foreign keys; PostgreSQL: the statement time-out, no notices).
    void startSession();

    // The one query helper: the statement prepared once per connection, the values bound,
    // run; the query to read its rows from (valid until the same statement runs again).
    // Throws SqlFailure.
    QSqlQuery& run(const std::string& sql, const QVariantList& values = {});
    // A statement without values that cannot be prepared (the schema, roles, session
    // settings, transaction control), in this connection's dialect (see dialect()); one of
    // the other dialect does nothing. Throws SqlFailure.
    void execute(const std::string& sql);
    // The statement in this dialect: "pg:" or "sqlite:" before it runs it on that dialect
    // only (empty for the other); "{ID}" stands for the auto-numbered primary key (numbered
    // by the server alone on PostgreSQL), "{NOW}" for the database's clock in whole seconds
    // since 1970 UTC, "{LOGIN}" for the server's login (NULL on SQLite).
    std::string dialect(std::string sql) const;
    // The tables of the database; throws SqlFailure when they cannot be listed.
    std::vector<std::string> tables();

    // One transaction: fn() runs, and commits; a busy database or a serialization failure
    // is tried again a bounded number of times; anything else rolls back and throws
    // RecordsError(WriteFailed): "DISPLAY: cannot WHAT: why".
    template <typename Fn>
    auto transact(const std::string& what, Fn&& fn) -> decltype(fn());
    // fn() outside a transaction; a failure throws RecordsError(kind) worded as above.
    template <typename Fn>
    auto read(const std::string& what, Fn&& fn, RecordsError::Kind kind = RecordsError::Kind::WriteFailed)
        -> decltype(fn());

private:
    SqlConnection() = default;
    QSqlDatabase db() const;
    // Why a statement failed, in one line; a call the watch gave up says so.
    std::string failure(const QSqlError& e);
    // Before a call: a connection given up, or a program stopping, fails at once.
    void requireConnection();
    void finishStatements();
    void rollback();
    bool retriable(const QSqlError& e) const;
    [[noreturn]] void fail(RecordsError::Kind kind, const std::string& what, const QSqlError& e);

    // One call, bounded by the watch from its start to its end.
    struct Call {
        explicit Call(SqlConnection& c) : watch(c.watch_.get()) {
            if (watch)
                watch->begin();
        }
        ~Call() {
            if (watch)
                watch->end();
        }
        CallWatch* watch;
    };

    QString connection_;
    bool postgres_ = false;
    std::string display_;
    int statementSeconds_ = 30;
    std::chrono::milliseconds lockWait_ = kSqliteLockWait;
    bool givenUpOnStop_ = true;
    bool lostConnection_ = false; // given up by the watch: every later call fails at once
    std::map<std::string, QSqlQuery> prepared_;
    std::unique_ptr<CallWatch> watch_;
};

template <typename Fn>
auto SqlConnection::transact(const std::string& what, Fn&& fn) -> decltype(fn()) {
    constexpr int kAttempts = 8;
    std::minstd_rand jitter(static_cast<unsigned>(std::hash<std::thread::id>{}(std::this_thread::get_id())));
    requireConnection();
    Call call(*this);
    for (int attempt = 1;; ++attempt) {
        try {
            execute(postgres_ ? "BEGIN" : "BEGIN IMMEDIATE");
            try {
                if constexpr (std::is_void_v<decltype(fn())>) {
                    fn();
                    finishStatements();
                    execute("COMMIT");
                    return;
                } else {
                    auto result = fn();
                    finishStatements();
                    execute("COMMIT");
                    return result;
                }
            } catch (...) {
                finishStatements();
                rollback();
                throw;
            }
        } catch (const SqlFailure& f) {
            // A lock waited for up to its bound is not waited for again.
            if (attempt < kAttempts && retriable(f.error) && !(watch_ && watch_->fired())) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5 * attempt + jitter() % 20));
                continue;
            }
            fail(RecordsError::Kind::WriteFailed, what, f.error);
        }
    }
}

template <typename Fn>
auto SqlConnection::read(const std::string& what, Fn&& fn, RecordsError::Kind kind) -> decltype(fn()) {
    requireConnection();
    Call call(*this);
    try {
        if constexpr (std::is_void_v<decltype(fn())>) {
            fn();
            finishStatements();
        } else {
            auto result = fn();
            finishStatements();
            return result;
        }
    } catch (const SqlFailure& f) {
        finishStatements();
        fail(kind, what, f.error);
    }
}

} // namespace dm::records
