#pragma once
// read-params and read-archive keep what they read in the records database, as the
// window does: the reading goes into the station's spool, synced to disk, before the
// reply file is let go, and is sent to the database after the printout. A failure to
// store it is one line on stderr and exit 1, never a lost printout nor a lost reading:
// it then waits in the spool (`records spool`).
#include "records/station_recorder.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace dm::cli {

class ReadingKeeper {
public:
    // command: "read-params" or "read-archive", for the messages; dbUrl: --db.
    ReadingKeeper(std::string command, const std::string& dbUrl);
    ~ReadingKeeper();
    ReadingKeeper(const ReadingKeeper&) = delete;
    ReadingKeeper& operator=(const ReadingKeeper&) = delete;

    // Before the reply file goes: the parameter reply as a readout taken now. False when
    // the spool could not take it: then the reply file must stay.
    bool keepParameters(const std::string& reply);
    // The same for an archive reply: a download of dosimeter serial, read with interval
    // seconds between gamma records.
    bool keepArchive(const std::string& reply, double interval, const std::string& serial);

    // After the printout: sends the reading (and whatever else waits for the same
    // database) to the database. Returns the exit status (0 or 1).
    int store();

private:
    bool keep(records::RecordEntry entry);

    std::string command_;
    std::string dbUrl_;   // --db as given
    std::string urlText_; // the database in force
    std::unique_ptr<records::RecordSpool> spool_;
    std::optional<records::RecordEntry> reading_;
    std::optional<std::int64_t> row_; // the reading's row in the spool
    std::string problem_;             // why it cannot be stored, or why the spool failed
};

} // namespace dm::cli
