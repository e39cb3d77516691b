#pragma once
// Capture: what an exchange hands over (typed readings, the changes sent and whether the
// dosimeter took them) turned into the records the station keeps. The window and the
// command line capture through this one class, so both date and tie their records alike.
//
// The one rule for times: a readout keeps its real time, since its content tells two
// readouts of one second apart (the same content again is a repeat, stored once); any
// other record of a dosimeter within the second of the last one of its kind goes one
// second later, so it is not taken for a repeat and dropped.
#include "core/string_table.h"
#include "exchange/reading_recorder.h"
#include "history/dose_archive.h"
#include "params/parameter_set.h"
#include "records/record_codec.h"
#include "records/records_repository.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dm::records {

// This station and its user: the host name and the login name.
Origin LocalOrigin();

// The readout of a parameter reply: model, every parameter as received, the total dose
// (none when "total_val" is missing or is no dose: see DoseFromText).
// The serial comes from "serial_number", else fallbackSerial; nothing when neither has one.
std::optional<ReadoutInput> ReadoutFromParameters(const ParameterSet& set, UtcSeconds at, Origin origin,
                                                  const std::string& fallbackSerial = {});

// A dose-history download of an archive read with interval seconds between gamma records
// (the "history_time" of the last parameter reply).
HistoryDownloadInput DownloadFromArchive(const DoseArchive& archive, double interval, const std::string& serial,
                                         UtcSeconds at, Origin origin);
// The same for an archive reply as picked up.
HistoryDownloadInput DownloadFromArchive(std::string_view reply, double interval, const std::string& serial,
                                         UtcSeconds at, Origin origin);

// What one step of a capture made: the records to keep, in order, and a note for the
// status log when a reading could not be tied to a dosimeter.
struct Captured {
    std::vector<RecordEntry> entries;
    std::optional<StringId> note;
};

// One station's readings in the order they arrive (one thread). Changes sent wait for
// their settling; whatever comes between (another command, another dosimeter, the
// dosimeter leaving) records them as not taken.
class ReadingCapture {
public:
    using Clock = std::function<UtcSeconds()>;
    explicit ReadingCapture(Origin origin, Clock clock = {});

    Captured parameters(const ParameterSet& reading);
    // A download of the dosimeter that sent the last parameter reply, or of `serial`
    // when given (a command line told which dosimeter it read).
    Captured archive(const DoseArchive& archive, double interval, const std::string& serial = {});
    Captured erase();
    Captured changesSent(const std::vector<SentChange>& changes);
    // taken[i] for the changes last sent; those without a decision were not taken.
    Captured changesSettled(const std::vector<bool>& taken);
    Captured gone();

    // The changes sent and not settled yet; nothing when none.
    const std::vector<ChangeSent>* awaitedChanges() const { return pending_ ? &pending_->changes : nullptr; }
    // What the last parameter reply said of this key, as received; empty when nothing.
    std::string lastReported(std::string_view key) const;
    // The serial of the last parameter reply; empty before one.
    std::string serial() const { return last_ ? last_->serial : std::string(); }

private:
    UtcSeconds nextTime(UtcSeconds& last);
    void settle(Captured& out, const std::vector<bool>& taken);

    Origin origin_;
    Clock clock_;
    std::optional<ReadoutInput> last_; // the last parameter reply, as its readout
    std::optional<ChangesInput> pending_;
    UtcSeconds lastDownloadAt_ = 0, lastEraseAt_ = 0, lastChangesAt_ = 0;
};

} // namespace dm::records
