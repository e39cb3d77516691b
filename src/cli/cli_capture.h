#pragma once
// read-params and read-archive keep what they read in the records database, as the
// window does. Called after the reading has been printed whole: a failure is one line on
// stderr and exit 1, never a lost printout.
#include <string>

namespace dm::cli {

// The parameter reply as a readout taken now. Returns the exit status (0 or 1).
int StoreReadParams(const std::string& dbUrl, const std::string& reply);

// The archive reply as a download of dosimeter serial taken now, read with interval
// seconds between gamma records. Returns the exit status (0 or 1).
int StoreReadArchive(const std::string& dbUrl, const std::string& reply, double interval,
                     const std::string& serial);

} // namespace dm::cli
