#include "records/capture.h"

#include "records/archive_records.h"

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
    readout.model = set.model();
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

HistoryDownloadInput DownloadFromArchive(std::string_view reply, double interval, const std::string& serial,
                                         UtcSeconds at, Origin origin) {
    ArchiveContent content = ReadArchiveRecords(reply, interval);
    HistoryDownloadInput download;
    download.serial = serial;
    download.at = at;
    download.origin = std::move(origin);
    download.interval = interval;
    download.layout = content.layout;
    download.records = std::move(content.records);
    return download;
}

} // namespace dm::records
