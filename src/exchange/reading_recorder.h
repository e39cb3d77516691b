#pragma once
// What an exchange hands to the records of a reader station: each reading as it arrives,
// parsed once, and the commands that change the dosimeter, typed. The station recorder
// (records) takes these for the window and the command line; nothing here parses a reply
// or a command file again.
#include "history/dose_archive.h"
#include "params/parameter_set.h"

#include <string>
#include <vector>

namespace dm {

// One "key = value" line of the command files "Send changes" pushed.
struct SentChange {
    std::string key;
    std::string before; // the value the dosimeter last reported (as received), empty when none
    std::string after;  // the value sent
};

class ReadingRecorder {
public:
    virtual ~ReadingRecorder() = default;

    // A parameter reply. Returns once the reading is safe (in the spool, synced): only
    // then may its reply file go.
    virtual void parametersArrived(const ParameterSet& reading) = 0;
    // A dose-history reply, read with `interval` seconds between gamma records. Safe on
    // return, as above.
    virtual void archiveArrived(const DoseArchive& archive, double interval) = 0;
    // "Erase total dose" was pushed.
    virtual void erasePushed() = 0;
    // "Send changes" pushed these lines, in push order; they are recorded once settled.
    virtual void changesSent(const std::vector<SentChange>& changes) = 0;
    // The renewed parameters settled the changes last sent: taken[i] tells whether the
    // dosimeter kept changes[i] (the one rule, ValueTaken in params/change_check.h).
    // Changes never settled (the dosimeter left, another command went out first) are
    // recorded as not taken.
    virtual void changesSettled(const std::vector<bool>& taken) = 0;
    // The dosimeter left range: what comes next belongs to whichever arrives.
    virtual void dosimeterGone() = 0;
};

} // namespace dm
