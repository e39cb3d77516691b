#pragma once
// A records database for a window that must never wait for it: the connection is opened,
// and every request runs, on a thread of this object's own, one after another. A server
// that does not answer holds up that thread only; the window hears of the outcome through
// what the request hands back (the window posts it to its own thread).
#include "core/language.h"
#include "records/records_repository.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace dm::records {

class RecordsThread {
public:
    using Request = std::function<void(RecordsRepository&)>;
    using Failed = std::function<void(const RecordsError&)>;

    // Nothing is opened here: the first request opens the database on the thread.
    explicit RecordsThread(std::string urlText);
    // Drops the requests not begun and waits for the one running.
    ~RecordsThread();
    RecordsThread(const RecordsThread&) = delete;
    RecordsThread& operator=(const RecordsThread&) = delete;

    // The database, without its password.
    std::string displayName() const { return display_; }

    // Runs request on the thread with the database open (opened first when needed). When
    // it cannot be opened, or the request throws RecordsError, failed runs there instead,
    // and the next request opens a new connection.
    void post(Request request, Failed failed);
    // Returns when every request posted so far has run.
    void waitIdle();

private:
    void run();

    const std::string urlText_;
    std::string display_;
    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::deque<std::pair<Request, Failed>> queue_;
    bool running_ = false;
    bool stop_ = false;
    std::unique_ptr<RecordsRepository> repo_; // the thread's only
    std::thread thread_;
};

// A records failure as the interface says it, in its language: what went wrong in its
// words, then what the database or its driver said.
std::string RecordsErrorText(const RecordsError& error, Language language);

} // namespace dm::records
