#pragma once
// read-params and read-archive keep what they read in the records database, as the
// window does: the reading goes into the station's spool, synced to disk, before the
// reply file is let go, and is sent to the database after the printout. A failure to
// store it is one line on stderr and exit 1, never a lost printout nor a lost reading:
// it then waits in the spool (`records spool`).
#include "history/dose_archive.h"
#include "params/parameter_set.h"
#include "records/capture.h"
#include "records/record_spool.h"

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
    // Captured as the window captures it (capture.h), so both date their records alike.
    bool keepParameters(const ParameterSet& reading);
    bool keepParameters(const std::string& reply) { return keepParameters(ReadParameterSet(reply)); }
    // The same for an archive: a download of dosimeter serial, read with interval seconds
    // between gamma records.
    bool keepArchive(const DoseArchive& archive, double interval, const std::string& serial);
    bool keepArchive(const std::string& reply, double interval, const std::string& serial) {
        return keepArchive(ParseDoseArchive(reply, interval), interval, serial);
    }

    // After the printout: sends the reading (and whatever else waits for the same
    // database) to the database. Returns the exit status (0 or 1).
    int store();

private:
    bool keep(records::Captured captured);

    std::string command_;
    std::string dbUrl_;   // --db as given
    std::string urlText_; // the database in force
    std::unique_ptr<records::ReadingCapture> capture_;
    std::unique_ptr<records::RecordSpool> spool_;
    std::optional<records::RecordEntry> reading_;
    std::optional<std::int64_t> row_; // the reading's row in the spool
    std::string problem_;             // why it cannot be stored, or why the spool failed
};

} // namespace dm::cli
