#pragma once
// The station's spool: the records a database has not taken yet, in a local SQLite file
// readable by its owner only, each synced to disk as it goes in, and one pass that sends
// them on, oldest first, keeping what the database refuses with a growing pause. Nothing
// in the spool is ever dropped.
#include "records/record_codec.h"
#include "records/records_repository.h"

#include <QVariantList>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dm::records {

class SqlConnection;

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
    void write(const std::string& sql, const QVariantList& values);

    std::unique_ptr<SqlConnection> sql_;
};

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

} // namespace dm::records
