#include "records/capture.h"

#include "records/archive_records.h"

#include <QDateTime>
#include <QString>
#include <QSysInfo>

#include <cstdlib>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

namespace dm::records {

Origin LocalOrigin() {
    Origin origin;
    origin.station = QSysInfo::machineHostName().toStdString();
    if (origin.station.empty())
        origin.station = "unknown";
#ifndef _WIN32
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name && *pw->pw_name)
        origin.operatorName = pw->pw_name;
#endif
    for (const char* variable : {"USER", "USERNAME"})
        if (const char* user = std::getenv(variable); origin.operatorName.empty() && user && *user)
            origin.operatorName = user;
    if (origin.operatorName.empty())
        origin.operatorName = "unknown";
    return origin;
}

std::optional<ReadoutInput> ReadoutFromParameters(const ParameterSet& set, UtcSeconds at, Origin origin,
                                                  const std::string& fallbackSerial) {
    ReadoutInput readout;
    readout.serial = set.serialNumber();
    if (readout.serial.empty())
        readout.serial = fallbackSerial;
    if (readout.serial.empty())
        return std::nullopt;
    readout.model = set.modelName();
    readout.at = at;
    readout.origin = std::move(origin);
    // A total that is no dose (negative, unreadable, "nan") is kept as read and carries none.
    if (const std::optional<std::string> total = set.raw("total_val"))
        readout.totalDose = DoseFromText(*total);
    readout.parameters.reserve(set.parameters().size());
    for (const Parameter& p : set.parameters())
        readout.parameters.push_back({p.key, p.raw});
    return readout;
}

HistoryDownloadInput DownloadFromArchive(const DoseArchive& archive, double interval, const std::string& serial,
                                         UtcSeconds at, Origin origin) {
    ArchiveContent content = ArchiveRecordsOf(archive);
    HistoryDownloadInput download;
    download.serial = serial;
    download.at = at;
    download.origin = std::move(origin);
    download.interval = interval;
    download.layout = content.layout;
    download.records = std::move(content.records);
    return download;
}

HistoryDownloadInput DownloadFromArchive(std::string_view reply, double interval, const std::string& serial,
                                         UtcSeconds at, Origin origin) {
    return DownloadFromArchive(ParseDoseArchive(std::string(reply), interval), interval, serial, at,
                               std::move(origin));
}

// ------------------------------------------------------------------ the capture

ReadingCapture::ReadingCapture(Origin origin, Clock clock)
    : origin_(std::move(origin)),
      clock_(clock ? std::move(clock) : Clock([] { return QDateTime::currentSecsSinceEpoch(); })) {}

UtcSeconds ReadingCapture::nextTime(UtcSeconds& last) {
    UtcSeconds now = clock_();
    if (now <= last)
        now = last + 1;
    last = now;
    return now;
}

std::string ReadingCapture::lastReported(std::string_view key) const {
    if (last_)
        for (const StoredParameter& p : last_->parameters)
            if (p.key == key)
                return p.raw;
    return {};
}

void ReadingCapture::settle(Captured& out, const std::vector<bool>& taken) {
    if (!pending_)
        return;
    ChangesInput changes = std::move(*pending_);
    pending_.reset();
    for (std::size_t i = 0; i < changes.changes.size(); ++i)
        changes.changes[i].taken = i < taken.size() && taken[i];
    out.entries.push_back(std::move(changes));
}

Captured ReadingCapture::parameters(const ParameterSet& reading) {
    Captured out;
    if (reading.empty())
        return out;
    std::optional<ReadoutInput> readout = ReadoutFromParameters(reading, clock_(), origin_);
    if (!readout) {
        out.note = IDS_REC_NO_SERIAL;
        return out;
    }
    if (last_ && last_->serial != readout->serial) {
        settle(out, {}); // another dosimeter answered: the changes were not its
        lastDownloadAt_ = lastEraseAt_ = lastChangesAt_ = 0;
    }
    last_ = *readout;
    out.entries.push_back(std::move(*readout));
    return out;
}

Captured ReadingCapture::archive(const DoseArchive& archive, double interval, const std::string& serial) {
    Captured out;
    const std::string of = serial.empty() && last_ ? last_->serial : serial;
    if (of.empty())
        out.note = IDS_REC_UNKNOWN_HISTORY;
    else
        out.entries.push_back(DownloadFromArchive(archive, interval, of, nextTime(lastDownloadAt_), origin_));
    return out;
}

Captured ReadingCapture::erase() {
    Captured out;
    settle(out, {});
    if (!last_) {
        out.note = IDS_REC_UNKNOWN_ERASE;
        return out;
    }
    EraseInput erase;
    erase.serial = last_->serial;
    erase.at = nextTime(lastEraseAt_);
    erase.origin = origin_;
    erase.totalDoseBefore = last_->totalDose;
    out.entries.push_back(std::move(erase));
    return out;
}

Captured ReadingCapture::changesSent(const std::vector<SentChange>& sent) {
    Captured out;
    settle(out, {});
    if (!last_) {
        out.note = IDS_REC_UNKNOWN_CHANGES;
        return out;
    }
    ChangesInput changes;
    changes.serial = last_->serial;
    changes.at = nextTime(lastChangesAt_);
    changes.origin = origin_;
    for (const SentChange& c : sent)
        changes.changes.push_back({c.key, c.before, c.after, false});
    pending_ = std::move(changes);
    return out;
}

Captured ReadingCapture::changesSettled(const std::vector<bool>& taken) {
    Captured out;
    settle(out, taken);
    return out;
}

Captured ReadingCapture::gone() {
    Captured out;
    settle(out, {});
    last_.reset();
    return out;
}

} // namespace dm::records
