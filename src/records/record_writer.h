#pragma once
// The writer: the thread of a station's own that sends its records to the database.
// hand() puts a record into the spool, synced, before it returns (so a reply file may go
// only after it); the thread then sends the spool to the database, oldest first, and takes
// off what the database took. A slow or unreachable server (a PostgreSQL connect may wait
// up to ten seconds, a busy SQLite file as long) never holds up the one handing records
// in. Nothing is dropped: what the database refuses waits in the spool and is tried again
// with a growing pause, and the repository's unique keys make a replay a no-op.
//
// The callbacks (notes, alerts, "stored") are copied under the writer's lock and called
// outside it; a setter returns once no call of the callback it replaced is running on
// another thread, so a window may clear them and go.
#include "core/language.h"
#include "records/dose_alerts.h"
#include "records/record_spool.h"
#include "records/records_repository.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace dm::records {

class RecordWriter {
public:
    using Notify = std::function<void(const std::string&)>;
    using ReadoutCheck = std::function<ReadoutTold(RecordsRepository&, const ReadoutInput&, Language language)>;

    // urlText: the database in force; spoolFile: where records wait for it. The database
    // is opened on the writer's thread, the spool on first use.
    RecordWriter(std::string urlText, std::filesystem::path spoolFile);
    // Tries once more to send what was handed in since the last try (not when the
    // database was out of reach then: it all waits in the spool), then stops its thread.
    ~RecordWriter();
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    void setNotify(Notify notify);
    void setAlert(Notify alert);
    void setStored(std::function<void()> stored);
    void setReadoutCheck(ReadoutCheck check);
    void setLanguage(Language language) { language_ = language; }
    Language language() const { return language_; }

    const std::string& displayName() const { return display_; }
    const std::filesystem::path& spoolFile() const { return spoolFile_; }

    // Called from one handing thread: the record is in the spool, synced, on return (or,
    // when the spool cannot be written, held in memory, which the notes say).
    void hand(RecordEntry entry);
    // A note for the status log (on any thread).
    void say(const std::string& text);

    void retryNow();
    // Returns when the thread has tried everything handed in so far.
    void waitIdle();
    std::int64_t waiting() const;

private:
    // Runs fn (a copy of a callback) outside the lock, counted so setters can wait for it.
    template <typename Fn>
    void callOut(Fn&& fn);
    void waitCallsOut(std::unique_lock<std::mutex>& lock);
    void alert(const std::string& text);

    void run();
    void pass(bool force, bool fresh, std::deque<RecordEntry> heldNow);
    bool store(const RecordEntry& entry);
    void openDatabase();
    void checkReadout(const ReadoutInput& readout);
    std::int64_t countWaiting();

    const std::string urlText_;
    std::string display_;
    const std::string key_; // the spool's name for the database
    const std::filesystem::path spoolFile_;
    std::atomic<Language> language_{Language::English};

    // The handing thread's own connection to the spool.
    std::unique_ptr<RecordSpool> handSpool_;
    bool handSpoolBroken_ = false;

    // Shared with the writer's thread.
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::condition_variable calledOut_;
    std::vector<std::thread::id> callers_; // threads running a callback now
    std::deque<RecordEntry> memory_;       // handed in while the spool could not be written
    std::uint64_t handed_ = 0;             // records handed in
    std::uint64_t tried_ = 0;              // of those, how many the thread has had a go at
    bool busy_ = true;                     // until the first look at what a last run left
    bool retry_ = false;
    bool stop_ = false;
    std::int64_t waiting_ = 0;
    Notify notify_;
    Notify alert_;
    ReadoutCheck readoutCheck_;
    std::function<void()> stored_;
    std::vector<std::string> unsaid_;

    // The writer's thread only.
    std::unique_ptr<RecordsRepository> repo_;
    std::unique_ptr<RecordSpool> spool_;
    std::deque<RecordEntry> held_; // neither the database nor the spool took these
    bool outage_ = false;          // the last pass could not reach the database
    int failedPasses_ = 0;
    std::string lastWhy_;
    bool storedNew_ = false;

    std::thread thread_;
};

} // namespace dm::records
