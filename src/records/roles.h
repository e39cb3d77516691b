#pragma once
// The roles of a shared PostgreSQL records database, for a site to grant to its logins:
//   dosimeter_station  adds readouts, dose-history downloads, erase events and changes
//                      sent, and reads what a station shows; changes and deletes nothing
//   dosimeter_admin    as a station, and also manages wearers, hand-outs and limits and
//                      adds corrections of readouts (never an update of a readout)
//   dosimeter_reader   reads everything, for reports
// The statements are idempotent: each run leaves exactly these rights on the tables of
// the schema, so running them again after an upgrade covers new tables.
#include "records/records_repository.h"

#include <string>
#include <vector>

namespace dm::records {

inline constexpr const char* kStationRole = "dosimeter_station";
inline constexpr const char* kAdminRole = "dosimeter_admin";
inline constexpr const char* kReaderRole = "dosimeter_reader";

// The statements for the database named databaseName, in order.
std::vector<std::string> RoleStatements(const std::string& databaseName);

// Runs them on repo (PostgreSQL) as one transaction: all or nothing. Throws RecordsError
// (WriteFailed, nothing changed) when the login may not create roles or grant.
void ApplyRoles(RecordsRepository& repo);

} // namespace dm::records
