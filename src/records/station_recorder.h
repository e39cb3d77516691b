#pragma once
// What a reader station keeps without being asked: every parameter reply as a readout,
// every dose history read, every erase pushed and every set of changes sent. The window
// only forwards its events here; no widgets.
//
// The database is written on a thread of the recorder's own, so a slow or unreachable
// server (a PostgreSQL connect may wait up to ten seconds, a busy SQLite file as long)
// never holds up the exchange with the dosimeter. What the database does not take goes
// into a local SQLite spool and is sent, in order, when the database is back; the
// repository's unique keys make a replay after a crash a no-op.
#include "params/parameter_set.h"
#include "records/capture.h"
#include "records/dose_alerts.h"
#include "records/records_repository.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

namespace dm::records {

using RecordEntry = std::variant<ReadoutInput, HistoryDownloadInput, EraseInput, ChangesInput>;

// Entries the database has not taken yet, in a local SQLite file readable by its owner
// only. Belongs to the thread that made it.
class RecordSpool {
public:
    // Opens (making the file and its folder when needed); throws RecordsError(CannotOpen).
    explicit RecordSpool(const std::filesystem::path& file);
    ~RecordSpool();
    RecordSpool(const RecordSpool&) = delete;
    RecordSpool& operator=(const RecordSpool&) = delete;

    void append(const RecordEntry& entry); // throws RecordsError(WriteFailed)
    // The oldest entry and its row; nothing when empty. A row that cannot be read back
    // is set aside (kept in the file) rather than blocking the rest.
    std::optional<std::pair<std::int64_t, RecordEntry>> front();
    void remove(std::int64_t row);
    // Keeps a row the database refused for good out of the queue, with the reason.
    void setAside(std::int64_t row, const std::string& reason);
    std::int64_t count();

private:
    std::string connection_;
};

// The entry as spooled text, and back (nothing for a text that is not one).
std::string EntryToJson(const RecordEntry& entry);
std::optional<RecordEntry> EntryFromJson(const std::string& text);

class StationRecorder {
public:
    // Told, on any thread, what the status log should show.
    using Notify = std::function<void(const std::string&)>;
    using Clock = std::function<UtcSeconds()>;

    // urlText: the database in force; spoolFile: where entries wait while it cannot be
    // written. Nothing is opened here: the recorder's thread opens both on first use.
    StationRecorder(std::string urlText, std::filesystem::path spoolFile, Origin origin = LocalOrigin(),
                    Clock clock = {});
    // Writes (or spools) everything handed in so far, then stops its thread.
    ~StationRecorder();
    StationRecorder(const StationRecorder&) = delete;
    StationRecorder& operator=(const StationRecorder&) = delete;

    void setNotify(Notify notify);
    // The language of the recorder's own notes (kLangEnglish or kLangRussian); what the
    // database or its driver says stays as they say it.
    void setLanguage(int langBase) { langBase_ = langBase; }
    // Looked at, on the recorder's thread, with each readout the database has just taken
    // new (whose dosimeter it is, the dose alerts of its wearer): its notes go to the
    // status notes, its alerts through the alert handler (else the status notes too).
    using ReadoutCheck = std::function<ReadoutTold(RecordsRepository&, const ReadoutInput&, int langBase)>;
    void setReadoutCheck(ReadoutCheck check);
    void setAlert(Notify alert);
    // The database in force, without its password.
    std::string displayName() const { return display_; }

    // ---- the window's events; called from one thread, never wait for the database
    void parametersArrived(const std::string& reply);
    void archiveArrived(const std::string& reply, double interval);
    void erasePushed();
    // The command files "Send changes into dosimeter" pushed (Windows-1251 bytes). Whether
    // the dosimeter took each value is known from the next parameter reply.
    void changesSent(const std::vector<std::string>& commandFiles);

    // The dosimeter left range: what comes next belongs to whichever arrives, not to it.
    void dosimeterGone();

    // Tries the database again now, not at the next retry.
    void retryNow();
    // Returns when everything handed in so far has been written or spooled.
    void waitIdle();
    // Entries waiting for the database (spooled or held in memory).
    std::int64_t waiting() const;

private:
    void post(RecordEntry entry);
    void postPendingChanges(const ParameterSet* renewed);
    UtcSeconds nextTime(UtcSeconds& last);
    void say(const std::string& text);
    void run();
    bool writeBacklog();
    void store(const RecordEntry& entry);
    void checkReadout(const ReadoutInput& readout);
    void keep(RecordEntry entry);
    void tellOutage(const RecordsError& e);

    const std::string urlText_;
    std::string display_;
    const std::filesystem::path spoolFile_;
    const Origin origin_;
    const Clock clock_;
    std::atomic<int> langBase_{0};

    // Window-thread state: what the last parameter reply said, the changes awaiting it.
    struct LastReadout {
        std::string serial;
        std::optional<double> totalDose;
        std::vector<StoredParameter> parameters;
    };
    std::optional<LastReadout> last_;
    std::optional<ChangesInput> pendingChanges_;
    UtcSeconds lastReadoutAt_ = 0, lastDownloadAt_ = 0, lastEraseAt_ = 0, lastChangesAt_ = 0;

    // Shared with the recorder's thread.
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<RecordEntry> queue_;
    bool busy_ = true; // until the first look at what a last run left in the spool
    bool retry_ = false;
    bool stop_ = false;
    std::int64_t waiting_ = 0;
    Notify notify_;
    Notify alert_;
    ReadoutCheck readoutCheck_;
    std::vector<std::string> unsaid_;

    // The recorder's thread only.
    std::unique_ptr<RecordsRepository> repo_;
    std::unique_ptr<RecordSpool> spool_;
    bool spoolBroken_ = false;
    std::deque<RecordEntry> held_; // neither the database nor the spool took these
    bool outageTold_ = false;
    std::map<std::int64_t, int> refusals_; // spool row -> refusals while reachable

    std::thread thread_;
};

} // namespace dm::records
