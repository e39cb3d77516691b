#pragma once
// What a reader station keeps without being asked: every parameter reply as a readout,
// every dose history read, every erase pushed and every set of changes sent. The window
// only forwards its events here; no widgets.
//
// Every record goes first into a local SQLite spool, synced to disk before the call that
// hands it in returns: the window (and read-params) let the reply file go only after
// that, so a program killed at any moment loses no reading. A thread of the recorder's
// own then sends the spool to the database, oldest first, and takes off what the
// database took; a slow or unreachable server (a PostgreSQL connect may wait up to ten
// seconds, a busy SQLite file as long) never holds up the exchange with the dosimeter.
// Nothing is ever dropped: what the database refuses waits in the spool and is tried
// again with a growing pause, and the repository's unique keys make a replay after a
// crash a no-op.
#include "core/language.h"
#include "params/parameter_set.h"
#include "records/capture.h"
#include "records/dose_alerts.h"
#include "records/records_repository.h"

#include <atomic>
#include <chrono>
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
#include <variant>
#include <vector>

namespace dm::records {

using RecordEntry = std::variant<ReadoutInput, HistoryDownloadInput, EraseInput, ChangesInput>;

// The station's spool: records-spool.sqlite beside the default database.
std::filesystem::path DefaultSpoolFile();

// The name a spooled record gives its database: the display name, with an SQLite path
// made absolute, so the window and the command line name one database alike.
std::string SpoolDatabaseKey(const std::string& urlText);

// The pause before the next try after `failures` failed tries in a row: 5 s, doubling,
// at most two minutes.
std::chrono::seconds RetryPause(int failures);

// One record waiting in the spool, and why.
struct SpoolRow {
    std::int64_t row = 0;
    std::string database;             // its SpoolDatabaseKey; empty: spooled by an older version, not yet claimed
    std::optional<RecordEntry> entry; // none: the row is not a record this program wrote
    UtcSeconds spooledAt = 0;         // when it went in (0: unknown)
    int attempts = 0;                 // tries the database did not take
    std::string lastError;            // why the last try failed; empty before any
    std::optional<UtcSeconds> nextTry;
    bool refusedAlone = false; // the database refused this record while it took others
};

// Records the database has not taken yet, in a local SQLite file readable by its owner
// only. Each connection belongs to the thread that made it; several connections (the
// window's thread, the recorder's thread, a command-line run) may share the file.
class RecordSpool {
public:
    // Opens (making the file and its folder when needed); throws RecordsError(CannotOpen).
    explicit RecordSpool(const std::filesystem::path& file);
    ~RecordSpool();
    RecordSpool(const RecordSpool&) = delete;
    RecordSpool& operator=(const RecordSpool&) = delete;

    // Appends the record for `database` (a SpoolDatabaseKey), synced to disk before it
    // returns; its row. Throws RecordsError(WriteFailed).
    std::int64_t append(const RecordEntry& entry, const std::string& database, UtcSeconds now);
    // The rows waiting for `database`, oldest first, without their records (entry()
    // reads one). Unreadable rows are not among them.
    std::vector<SpoolRow> waitingFor(const std::string& database);
    // The record of a row; nothing when it is gone or cannot be read (then it is marked
    // so, kept, and never tried again).
    std::optional<RecordEntry> entry(std::int64_t row);
    // Every row, oldest first, with its record (the listing).
    std::vector<SpoolRow> all();
    void remove(std::int64_t row);
    // A try of one row failed: counted, with the reason and the time of the next try.
    void failed(std::int64_t row, const std::string& why, UtcSeconds nextTry, bool alone);
    // The database could not be reached: every row waiting for it that was not refused
    // alone (but the one `except`, told already) is counted and told why, in one write.
    void failedAll(const std::string& database, const std::string& why, UtcSeconds nextTry, std::int64_t except);
    // Rows an older version spooled name no database: they were the window's, and go to
    // the database the window uses now.
    void claimUnnamed(const std::string& database);
    // Records (readable rows) waiting for `database`; without one, for any.
    std::int64_t count(const std::string& database);
    std::int64_t count();
    // The earliest next try among them; nothing when none waits for a time.
    std::optional<UtcSeconds> earliestTry(const std::string& database);

private:
    std::string connection_;
};

// The entry as spooled text, and back (nothing for a text that is not one).
std::string EntryToJson(const RecordEntry& entry);
std::optional<RecordEntry> EntryFromJson(const std::string& text);

// Writes one record; whether it was new (false: the same serial and time were stored
// before). Throws RecordsError.
bool StoreEntry(RecordsRepository& repo, const RecordEntry& entry);

// One pass over the spool for one database: what it did.
struct SpoolPass {
    std::int64_t stored = 0;  // records the database took (new or already there)
    bool unreachable = false; // the pass ended on a failure of the database as a whole
    std::string error;        // the last failure, if any
};

// Sends, oldest first, the records waiting in `spool` for `database`: with `force`, all
// of them; else those whose pause is over, and, with `tryAll`, also those that wait only
// because the database was out of reach. store(entry) writes one record (throwing
// RecordsError) and says whether it was new. A record the database refuses while it
// takes others waits alone with a growing pause; a failure to reach the database, or two
// refusals in a row, ends the pass, and every record left is told why.
SpoolPass SendSpooled(RecordSpool& spool, const std::string& database, bool force, bool tryAll, UtcSeconds now,
                      const std::function<bool(const RecordEntry&)>& store);

class StationRecorder {
public:
    // Told, on any thread, what the status log should show.
    using Notify = std::function<void(const std::string&)>;
    using Clock = std::function<UtcSeconds()>;

    // urlText: the database in force; spoolFile: where records wait for it. The
    // database is opened on the recorder's thread, the spool on first use.
    StationRecorder(std::string urlText, std::filesystem::path spoolFile, Origin origin = LocalOrigin(),
                    Clock clock = {});
    // Tries once more to send what was handed in since the last try (not when the
    // database was out of reach then: it all waits in the spool), then stops its thread.
    ~StationRecorder();
    StationRecorder(const StationRecorder&) = delete;
    StationRecorder& operator=(const StationRecorder&) = delete;

    void setNotify(Notify notify);
    // The language of the recorder's own notes; what the database or its driver says
    // stays as they say it.
    void setLanguage(Language language) { language_ = language; }
    // Looked at, on the recorder's thread, with each readout the database has just taken
    // new (whose dosimeter it is, the dose alerts of its wearer): its notes go to the
    // status notes, its alerts through the alert handler (else the status notes too).
    using ReadoutCheck = std::function<ReadoutTold(RecordsRepository&, const ReadoutInput&, Language language)>;
    void setReadoutCheck(ReadoutCheck check);
    void setAlert(Notify alert);
    // Called on the recorder's thread after the database has taken something new; it
    // must not wait (a queued call to the window).
    void setStored(std::function<void()> stored);
    // The database in force, without its password.
    std::string displayName() const { return display_; }
    const std::filesystem::path& spoolFile() const { return spoolFile_; }

    // ---- the window's events; called from one thread. Each returns once its record is
    // in the spool, synced; they never wait for the database.
    void parametersArrived(const std::string& reply);
    void archiveArrived(const std::string& reply, double interval);
    void erasePushed();
    // The command files "Send changes into dosimeter" pushed (Windows-1251 bytes). Whether
    // the dosimeter took each value is known from the next parameter reply.
    void changesSent(const std::vector<std::string>& commandFiles);

    // The dosimeter left range: what comes next belongs to whichever arrives, not to it.
    void dosimeterGone();

    // Tries every waiting record now, whatever its pause.
    void retryNow();
    // Returns when the recorder's thread has tried everything handed in so far.
    void waitIdle();
    // Records waiting for the database (spooled or held in memory).
    std::int64_t waiting() const;

private:
    void hand(RecordEntry entry);
    void postPendingChanges(const ParameterSet* renewed);
    UtcSeconds nextTime(UtcSeconds& last);
    void say(const std::string& text);
    void run();
    void pass(bool force, bool fresh, std::deque<RecordEntry> heldNow);
    bool store(const RecordEntry& entry);
    void openDatabase();
    void checkReadout(const ReadoutInput& readout);
    std::int64_t countWaiting();
    void tellWaiting(std::int64_t before, std::int64_t now, const std::string& why, bool fresh);

    const std::string urlText_;
    std::string display_;
    const std::string key_; // the spool's name for the database
    const std::filesystem::path spoolFile_;
    const Origin origin_;
    const Clock clock_;
    std::atomic<Language> language_{Language::English};

    // The handing thread's state: what the last parameter reply said, the changes
    // awaiting it, its own connection to the spool.
    struct LastReadout {
        std::string serial;
        std::optional<double> totalDose;
        std::vector<StoredParameter> parameters;
    };
    std::optional<LastReadout> last_;
    std::optional<ChangesInput> pendingChanges_;
    UtcSeconds lastReadoutAt_ = 0, lastDownloadAt_ = 0, lastEraseAt_ = 0, lastChangesAt_ = 0;
    std::unique_ptr<RecordSpool> handSpool_;
    bool handSpoolBroken_ = false;

    // Shared with the recorder's thread.
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<RecordEntry> memory_; // handed in while the spool could not be written
    std::uint64_t handed_ = 0;       // records handed in
    std::uint64_t tried_ = 0;        // of those, how many the thread has had a go at
    bool busy_ = true;               // until the first look at what a last run left
    bool retry_ = false;
    bool stop_ = false;
    std::int64_t waiting_ = 0;
    Notify notify_;
    Notify alert_;
    ReadoutCheck readoutCheck_;
    std::function<void()> stored_;
    std::vector<std::string> unsaid_;

    // The recorder's thread only.
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
