#include "records/station_recorder.h"

#include "core/cp1251.h"
#include "params/change_check.h"

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

// ------------------------------------------------------------------ adapters

void StationRecorder::parametersArrived(const std::string& reply) {
    const ParameterSet reading = ReadParameterSet(reply);
    if (const std::vector<ChangeSent>* awaited = capture_.awaitedChanges()) {
        std::vector<bool> taken;
        for (const ChangeSent& c : *awaited)
            taken.push_back(reading.serialNumber() == capture_.serial() && ValueTaken(reading, c.key, c.after));
        changesSettled(taken);
    }
    parametersArrived(reading);
}

void StationRecorder::archiveArrived(const std::string& reply, double interval) {
    archiveArrived(ParseDoseArchive(reply, interval), interval);
}

void StationRecorder::changesSent(const std::vector<std::string>& commandFiles) {
    std::vector<SentChange> changes;
    for (const std::string& file : commandFiles) {
        // A command file is "key = value" lines, read as a reply's are.
        const ParameterSet lines = ReadParameterSet(Cp1251ToUtf8(file));
        for (const Parameter& p : lines.parameters())
            if (p.key != "get_parameters") // the request for the renewed parameters, not a change
                changes.push_back({p.key, capture_.lastReported(p.key), p.raw});
    }
    changesSent(changes);
}

} // namespace dm::records
