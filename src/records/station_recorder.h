#pragma once
// What a reader station keeps without being asked: every parameter reply as a readout,
// every dose history read, every erase pushed and every set of changes sent, with whether
// the dosimeter took them. The exchange hands its typed readings here (ReadingRecorder);
// the recorder captures them as records (capture.h) and hands them to its writer
// (record_writer.h), which has them in the spool, synced, before each call returns and
// sends them to the database on a thread of its own. No widgets; nothing parsed here.
#include "core/language.h"
#include "exchange/reading_recorder.h"
#include "records/capture.h"
#include "records/record_spool.h"
#include "records/record_writer.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace dm::records {

class StationRecorder : public ReadingRecorder {
public:
    // Told, on any thread, what the status log should show.
    using Notify = RecordWriter::Notify;
    using Clock = ReadingCapture::Clock;
    using ReadoutCheck = RecordWriter::ReadoutCheck;

    // urlText: the database in force; spoolFile: where records wait for it. The
    // database is opened on the writer's thread, the spool on first use. clock: the time
    // records are dated by (the computer's by default).
    StationRecorder(std::string urlText, std::filesystem::path spoolFile, Origin origin = LocalOrigin(),
                    Clock clock = {});
    // Changes never settled are recorded as not taken; then the writer tries once more.
    ~StationRecorder() override;

    void setNotify(Notify notify) { writer_.setNotify(std::move(notify)); }
    // The language of the recorder's own notes (Language::English or Language::Russian); what the
    // database or its driver says stays as they say it.
    void setLanguage(Language language) { writer_.setLanguage(language); }
    // Looked at, on the writer's thread, with each readout the database has just taken
    // new (whose dosimeter it is, the dose alerts of its wearer): its notes go to the
    // status notes, its alerts through the alert handler (else the status notes too).
    void setReadoutCheck(ReadoutCheck check) { writer_.setReadoutCheck(std::move(check)); }
    void setAlert(Notify alert) { writer_.setAlert(std::move(alert)); }
    // Called on the writer's thread after the database has taken something new; it must
    // not wait (a queued call to the window).
    void setStored(std::function<void()> stored) { writer_.setStored(std::move(stored)); }
    // The database in force, without its password.
    std::string displayName() const { return writer_.displayName(); }
    const std::filesystem::path& spoolFile() const { return writer_.spoolFile(); }

    // ---- ReadingRecorder: called from one thread. Each returns once its record is in
    // the spool, synced; none waits for the database.
    void parametersArrived(const ParameterSet& reading) override;
    void archiveArrived(const DoseArchive& archive, double interval) override;
    void erasePushed() override;
    void changesSent(const std::vector<SentChange>& changes) override;
    void changesSettled(const std::vector<bool>& taken) override;
    void dosimeterGone() override;

    // Tries every waiting record now, whatever its pause.
    void retryNow() { writer_.retryNow(); }
    // Returns when the writer has tried everything handed in so far.
    void waitIdle() { writer_.waitIdle(); }
    // Records waiting for the database (spooled or held in memory).
    std::int64_t waiting() const { return writer_.waiting(); }

private:
    void keep(Captured captured);

    RecordWriter writer_;
    ReadingCapture capture_;
};

} // namespace dm::records
