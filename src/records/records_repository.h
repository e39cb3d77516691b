#pragma once
// The dose records store: every readout of every dosimeter, dose-history downloads,
// erase events and the audit trail of changes sent, kept in SQLite or in a PostgreSQL
// database shared by several stations. One interface for the CLI and the window.
//
// Every write is one transaction; a write repeated (same serial and time; for a readout,
// same serial, time and content) stores nothing and gives back the first row's id, so a
// replayed spool or a repeated import never doubles anything. Two different readouts of a
// dosimeter in one second are two readouts. Values are always bound, never spliced into SQL.
// A repository belongs to the thread that opened it (a Qt SQL connection rule).
//
// In parts: the connection (sql_connection.h), the schema and its migration (schema.h,
// migration.h), the writes (records_writes.cpp) and the reads (records_reads.cpp).
#include "records/database_url.h"
#include "records/dose_accounting.h"
#include "records/records_error.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>


namespace dm::records {

class SqlConnection;

// Who and where: filled by the front end (host name and user name by default).
struct Origin {
    std::string station;
    std::string operatorName;
};

struct StoredParameter {
    std::string key;
    std::string raw; // the value text as received
};

// One parameter reply.
struct ReadoutInput {
    std::string serial;
    std::string model; // "KRT-17A", "MLV-52B" or empty
    UtcSeconds at = 0;
    Origin origin;
    // Sv, "total_val". When the parameters hold "total_val", the store reads the dose
    // from that text itself (DoseFromText): a text that is no dose is kept as read and
    // carries none. Without it, a negative or non-finite value here is no dose either.
    std::optional<double> totalDose;
    std::vector<StoredParameter> parameters; // every line, in reply order
};

// One record of a dose-history download.
struct ArchiveRecord {
    enum class Section { Gamma, Neutron };
    Section section = Section::Gamma;
    int number = 0;                      // position within its section, from 1
    std::optional<std::int64_t> seconds; // the record's time; none when the reply has none
    std::string doseText;                // as received
    double dose = 0.0;                   // Sv, the dosimeter's number reading of doseText
    std::string coefficient;             // neutron records: the spectrum coefficient text
};

struct HistoryDownloadInput {
    std::string serial;
    UtcSeconds at = 0;
    Origin origin;
    double interval = 1.0; // seconds between two gamma records at the time of the read
    char layout = 'B';     // 'A' with a neutron section, 'B' without
    std::vector<ArchiveRecord> records;
};

struct EraseInput {
    std::string serial;
    UtcSeconds at = 0;
    Origin origin;
    std::optional<double> totalDoseBefore; // of the last readout, when one was read
};

struct ChangeSent {
    std::string key;
    std::string before;
    std::string after;
    bool taken = false; // the dosimeter's next reply showed the value sent
};

// One "Send changes into dosimeter".
struct ChangesInput {
    std::string serial;
    UtcSeconds at = 0;
    Origin origin;
    std::vector<ChangeSent> changes;
};

struct Stored {
    std::int64_t id = 0;
    bool isNew = false; // false: the same serial and time (and content) were stored before
};

// A batch's progress: `done` of `total` entries stored (called in the writing transaction).
using StoreProgress = std::function<void(std::size_t done, std::size_t total)>;

struct DosimeterSummary {
    std::string serial;
    std::optional<std::string> model; // of the latest readout
    std::optional<UtcSeconds> firstSeen;
    std::optional<UtcSeconds> lastSeen;
    std::int64_t readouts = 0;
    std::optional<double> totalDose; // of the latest readout
    std::optional<std::string> wearer; // current wearer's ID
};

// Who stored a row and when, by the database's own account: on PostgreSQL the login the
// server checked and the server's clock; on SQLite its clock only. Nothing for rows
// stored before the database kept it.
struct RecordedBy {
    std::optional<UtcSeconds> at;
    std::optional<std::string> login;
};

struct ReadoutView {
    std::int64_t id = 0;
    UtcSeconds at = 0;
    Origin origin;
    std::string model;
    std::optional<double> totalDose; // corrected value when a correction exists; none when no dose
    std::optional<std::string> totalText; // the "total_val" text as read, when the reply had one
    Accounted accounted;             // increment, flags ("invalid-dose": a total that is no dose)
    std::optional<std::string> wearer;
    RecordedBy recorded;
};

struct HistoryEntry {
    UtcSeconds at = 0;
    Origin origin;
    std::string action; // "send-changes" | "erase" | "correct"
    std::vector<ChangeSent> changes;
    std::string reason;                 // "correct": why
    std::optional<std::int64_t> readout; // "correct": the readout corrected
    RecordedBy recorded;
};

struct HistoryDownloadView {
    std::int64_t id = 0;
    UtcSeconds at = 0;
    Origin origin;
    double interval = 1.0;
    char layout = 'B';
    std::vector<ArchiveRecord> records;
};

// Qt SQL loads its drivers as plugins, which wants an application object: a program
// without one (the command-line tool, tests, benchmarks) calls this before open().
void EnsureQtCoreApplication(const char* programName);

class RecordsRepository {
public:
    // ForReading: an SQLite file that does not exist is not made (nor its folder): a
    // mistyped path is CannotOpen and leaves no trace.
    enum class Access { ForWriting, ForReading };

    // Opens (creating or upgrading the schema when needed) the database the URL names.
    // Throws RecordsError: NewerSchema and NotADatabase leave the database untouched.
    static std::unique_ptr<RecordsRepository> open(const DatabaseUrl& url, Access access = Access::ForWriting);
    static std::unique_ptr<RecordsRepository> open(const std::string& urlText, Access access = Access::ForWriting);

    virtual ~RecordsRepository();
    RecordsRepository(const RecordsRepository&) = delete;
    RecordsRepository& operator=(const RecordsRepository&) = delete;

    const DatabaseUrl& url() const { return url_; }
    std::string displayName() const { return url_.displayName(); }
    int schemaVersion() const;
    static int currentSchemaVersion();

    // Writes: each one transaction, retried on serialization failures; throw
    // RecordsError(WriteFailed) with nothing stored.
    Stored addReadout(const ReadoutInput& readout);
    Stored addHistoryDownload(const HistoryDownloadInput& download);
    Stored addErase(const EraseInput& erase);
    Stored addChanges(const ChangesInput& changes);
    // Many in one transaction (all stored or none), in order; progress, when given, is told
    // as they go (readouts counted one by one, downloads by their records).
    std::vector<Stored> addReadouts(const std::vector<ReadoutInput>& readouts, const StoreProgress& progress = {});
    std::vector<Stored> addHistoryDownloads(const std::vector<HistoryDownloadInput>& downloads,
                                            const StoreProgress& progress = {});

    // Reads.
    bool knowsSerial(const std::string& serial) const;
    std::vector<DosimeterSummary> dosimeters() const; // ordered by serial as text
    // Oldest first, with the dose accounting applied. UnknownSerial when never seen.
    std::vector<ReadoutView> readouts(const std::string& serial) const;
    std::vector<HistoryEntry> history(const std::string& serial) const; // oldest first
    std::vector<HistoryDownloadView> historyDownloads(const std::string& serial) const;
    std::vector<StoredParameter> readoutParameters(std::int64_t readoutId) const;

    // For the layers built on the store (wearers, the dose of record, corrections, roles,
    // the site): fn runs on this repository's connection as one transaction (retried when
    // busy) or as a read, its statements through SqlConnection::run or execute; a failed
    // statement becomes a RecordsError naming the database. Bounded as every call is (see
    // sql_connection.h).
    void transaction(const std::string& what, const std::function<void(SqlConnection&)>& fn);
    void reading(const std::string& what, const std::function<void(SqlConnection&)>& fn) const;

private:
    RecordsRepository(DatabaseUrl url, std::unique_ptr<SqlConnection> sql);
    std::vector<Stored> storeDownloads(const std::vector<const HistoryDownloadInput*>& downloads,
                                       const StoreProgress& progress);

    DatabaseUrl url_;
    std::unique_ptr<SqlConnection> sql_;
    std::optional<bool> olderReadouts_; // rows of schema version 1 (no content key) exist; asked once
};

} // namespace dm::records
