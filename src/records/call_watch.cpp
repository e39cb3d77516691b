#include "records/call_watch.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#ifdef DM_HAVE_LIBPQ
#include <libpq-fe.h>
#endif
#ifdef DM_HAVE_SQLITE3_API
#include <sqlite3.h>
#endif
#ifndef _WIN32
#include <sys/socket.h>
#endif

namespace dm::records {

using Clock = std::chrono::steady_clock;

struct CallWatch::Entry {
    QString connection;
    std::chrono::milliseconds bound{0};
    bool postgres = false;
    bool givenUpOnStop = true;
    void* handle = nullptr; // PGconn* or sqlite3*
    // Guarded by the watch's mutex.
    int fd = -1;
    int depth = 0;
    Clock::time_point deadline;
    bool fired = false;
    bool stopped = false;
};

namespace {

std::atomic<bool> aborted{false};

// The one thread that shuts down the sockets of calls past their bound.
class Watch {
public:
    static Watch& instance() {
        static Watch watch;
        return watch;
    }

    std::mutex mutex;
    std::map<QString, std::shared_ptr<CallWatch::Entry>> entries;

    void wake() {
        if (!started_) {
            started_ = true;
            thread_ = std::thread([this] { run(); });
        }
        changed_.notify_all();
    }

    // With the mutex held: the call gives up now.
    static void fire(CallWatch::Entry& e, bool stop) {
        e.fired = true;
        e.stopped = stop;
#ifndef _WIN32
        if (e.postgres && e.fd >= 0)
            ::shutdown(e.fd, SHUT_RDWR);
#endif
    }

    ~Watch() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            quit_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

private:
    void run() {
        std::unique_lock<std::mutex> lock(mutex);
        while (!quit_) {
            const Clock::time_point now = Clock::now();
            std::optional<Clock::time_point> next;
            for (auto& [name, e] : entries) {
                if (!e->postgres || e->depth == 0 || e->fired)
                    continue;
                const bool stop = aborted && e->givenUpOnStop;
                if (stop || now >= e->deadline)
                    fire(*e, stop);
                else
                    next = next ? std::min(*next, e->deadline) : e->deadline;
            }
            if (next)
                changed_.wait_until(lock, *next);
            else
                changed_.wait(lock);
        }
    }

    std::condition_variable changed_;
    std::thread thread_;
    bool started_ = false;
    bool quit_ = false;
};

#ifdef DM_HAVE_SQLITE3_API
// SQLite asks this while another connection holds the lock: wait a little, until the
// call's bound or a stop.
int WaitForLock(void* context, int) {
    auto* e = static_cast<CallWatch::Entry*>(context);
    Watch& watch = Watch::instance();
    std::unique_lock<std::mutex> lock(watch.mutex);
    const Clock::time_point now = Clock::now();
    const bool stop = aborted && e->givenUpOnStop;
    if (stop || now >= e->deadline) {
        e->fired = true;
        e->stopped = stop;
        return 0;
    }
    const auto pause = std::min<Clock::duration>(e->deadline - now, std::chrono::milliseconds(20));
    lock.unlock();
    std::this_thread::sleep_for(pause);
    return 1;
}
#endif

} // namespace

CallWatch::CallWatch(const QString& connection, std::chrono::milliseconds bound, bool givenUpOnStop)
    : entry_(std::make_shared<Entry>()) {
    entry_->connection = connection;
    entry_->bound = bound;
    entry_->givenUpOnStop = givenUpOnStop;
    Watch& watch = Watch::instance();
    std::lock_guard<std::mutex> lock(watch.mutex);
    watch.entries[connection] = entry_;
}

CallWatch::~CallWatch() {
    Watch& watch = Watch::instance();
    std::lock_guard<std::mutex> lock(watch.mutex);
    watch.entries.erase(entry_->connection);
}

bool CallWatch::attach(QSqlDatabase& db) {
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    const char* type = handle.typeName();
    if (!handle.isValid() || !type)
        return false;
#ifdef DM_HAVE_LIBPQ
    // The driver registers its handle under the struct's name.
    if (qstrcmp(type, "PGconn*") == 0 || qstrcmp(type, "pg_conn*") == 0) {
        entry_->postgres = true;
        entry_->handle = *static_cast<PGconn* const*>(handle.data());
        return true;
    }
#endif
#ifdef DM_HAVE_SQLITE3_API
    if (qstrcmp(type, "sqlite3*") == 0) {
        auto* sqlite = *static_cast<sqlite3* const*>(handle.data());
        if (!sqlite)
            return false;
        entry_->handle = sqlite;
        sqlite3_busy_handler(sqlite, WaitForLock, entry_.get());
        return true;
    }
#endif
    return false;
}

void CallWatch::begin() {
    Watch& watch = Watch::instance();
    std::lock_guard<std::mutex> lock(watch.mutex);
    Entry& e = *entry_;
    if (e.depth++ > 0)
        return;
    e.fired = e.stopped = false;
    e.deadline = Clock::now() + e.bound;
#ifdef DM_HAVE_LIBPQ
    if (e.postgres)
        e.fd = e.handle ? PQsocket(static_cast<PGconn*>(e.handle)) : -1;
#endif
    if (aborted && e.givenUpOnStop)
        Watch::fire(e, true);
    else if (e.postgres)
        watch.wake();
}

void CallWatch::end() {
    Watch& watch = Watch::instance();
    std::lock_guard<std::mutex> lock(watch.mutex);
    if (entry_->depth > 0)
        --entry_->depth;
}

bool CallWatch::fired() const {
    std::lock_guard<std::mutex> lock(Watch::instance().mutex);
    return entry_->fired;
}

bool CallWatch::stopped() const {
    std::lock_guard<std::mutex> lock(Watch::instance().mutex);
    return entry_->stopped;
}

void CallWatch::renew() {
    Watch& watch = Watch::instance();
    std::lock_guard<std::mutex> lock(watch.mutex);
    if (entry_->depth > 0 && !entry_->fired)
        entry_->deadline = Clock::now() + entry_->bound;
}

void AbortDatabaseCalls(bool abort) {
    aborted = abort;
    if (!abort)
        return;
    Watch& watch = Watch::instance();
    std::lock_guard<std::mutex> lock(watch.mutex);
    for (auto& [name, e] : watch.entries)
        if (e->depth > 0 && !e->fired && e->givenUpOnStop)
            Watch::fire(*e, true);
}

bool DatabaseCallsAborted() { return aborted; }

} // namespace dm::records
