#include "records/station_recorder.h"

namespace dm::records {

StationRecorder::StationRecorder(std::string urlText, std::filesystem::path spoolFile, Origin origin, Clock clock)
    : writer_(std::move(urlText), std::move(spoolFile)), capture_(std::move(origin), std::move(clock)) {}

StationRecorder::~StationRecorder() { keep(capture_.changesSettled({})); }

void StationRecorder::keep(Captured captured) {
    if (captured.note)
        writer_.say(Tr(*captured.note, writer_.language()));
    for (RecordEntry& entry : captured.entries)
        writer_.hand(std::move(entry));
}

void StationRecorder::parametersArrived(const ParameterSet& reading) { keep(capture_.parameters(reading)); }

void StationRecorder::archiveArrived(const DoseArchive& archive, double interval) {
    keep(capture_.archive(archive, interval));
}

void StationRecorder::erasePushed() { keep(capture_.erase()); }

void StationRecorder::changesSent(const std::vector<SentChange>& changes) { keep(capture_.changesSent(changes)); }

void StationRecorder::changesSettled(const std::vector<bool>& taken) { keep(capture_.changesSettled(taken)); }

void StationRecorder::dosimeterGone() { keep(capture_.gone()); }

} // namespace dm::records
