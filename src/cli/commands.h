#pragma once
// The subcommands of dosimeter-cli; each lives in the cli_*.cpp file of its area.
#include <string>
#include <vector>

namespace dm::records {
class RecordsRepository;
}

namespace dm::cli {

using Args = std::vector<std::string>;

int RunFormatDose(const Args& args);
int RunFormatDuration(const Args& args);
int RunParseNumber(const Args& args);

int RunParams(const Args& args);
int RunCompose(const Args& args);

int RunArchive(const Args& args);

int RunChart(const Args& args);

int RunPush(const Args& args);
int RunReadParams(const Args& args);
int RunReadArchive(const Args& args);
int RunSimulate(const Args& args);
int RunAdapters(const Args& args);

int RunRecords(const Args& args);
// The wearer and dose-of-record commands of `records`; -1 when `command` is none of them.
int RunRecordsWearerCommand(const std::string& command, const std::string& dbUrl, const Args& args);
// setup-roles and correct; -1 when `command` is neither.
int RunRecordsAdminCommand(const std::string& command, const std::string& dbUrl, const Args& args);
// `spool`: what waits in the station's spool; -1 when `command` is not it.
int RunRecordsSpoolCommand(const std::string& command, const std::string& dbUrl, const Args& args);
// One stderr line when the records database is a file other users can read.
void WarnIfRecordsExposed(const records::RecordsRepository& repo);
// Opens the records database for `records COMMAND`, with the warning above; a failure is
// "records COMMAND: reason" on stderr and exit 1. forReading: a command that only reads,
// which makes no SQLite file that is not there (an empty database is read instead).
std::unique_ptr<records::RecordsRepository> OpenRecords(const std::string& command, const std::string& dbUrl,
                                                        bool forReading = false);
// One stderr note when the --db URL holds a password (any user sees it in the process list).
void NotePasswordInUrl(const std::string& dbUrl);
// Keeps the SQL drivers' warnings off stderr: a failure is the one line the command says.
void QuietSqlDriverWarnings();

} // namespace dm::cli
