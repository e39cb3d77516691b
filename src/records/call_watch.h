#pragma once
// A bound on every database call, for the calls the drivers themselves cannot bound.
//
// PostgreSQL: the server gives a statement up after statement_timeout, but a server whose
// process is frozen (stopped, swapped out, a hung disk) never does, and its machine still
// answers TCP keep-alives. So each connection is watched from a thread of its own: a
// call still waiting for the server a few seconds after the statement time-out has its
// socket shut down, which makes libpq return with an error at once.
// SQLite: a file another program holds locked is waited for up to ten seconds per call,
// then given up ("database is locked").
// When the program is asked to stop (SIGTERM), every call in progress and every later one
// is given up at once, so what was not written can go to the spool and the program exits;
// the spool's own calls alone go on.
// sql_connection.h begins and ends the calls and renews the bound for each statement.
#include <QString>

#include <chrono>
#include <memory>

class QSqlDatabase;

namespace dm::records {

// How long a blocked SQLite call waits for another program's lock.
inline constexpr std::chrono::milliseconds kSqliteLockWait{10000};

class CallWatch {
public:
    // bound: how long a call may wait for the server (PostgreSQL) or a lock (SQLite).
    // givenUpOnStop: false for the spool, which must still take records while the program
    // stops.
    CallWatch(const QString& connection, std::chrono::milliseconds bound, bool givenUpOnStop = true);
    ~CallWatch();
    CallWatch(const CallWatch&) = delete;
    CallWatch& operator=(const CallWatch&) = delete;

    // After the connection opened: finds its socket (PostgreSQL) or installs the lock wait
    // (SQLite; false when this build cannot, and the driver's busy time-out is used).
    bool attach(QSqlDatabase& db);

    // A call starts and ends (nested calls count once). While one runs, each statement
    // started renews the bound (renew).
    void begin();
    void end();
    // A statement starts within the call in progress: it may take up to the bound again,
    // as a statement may take up to the server's time-out and a transaction may hold many.
    void renew();
    // The last call was given up by the watch (time-out or stop).
    bool fired() const;
    bool stopped() const;

    struct Entry;

private:
    std::shared_ptr<Entry> entry_;
};

// The program is stopping: give up every database call now and refuse new ones (false:
// allow them again, for tests).
void AbortDatabaseCalls(bool abort = true);
bool DatabaseCallsAborted();

} // namespace dm::records
