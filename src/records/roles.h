#pragma once
// The roles of a shared PostgreSQL records database, for a site to grant to its logins:
//   dosimeter_station  adds readouts, dose-history downloads, erase events and changes
//                      sent, and reads what a station shows; changes and deletes nothing
//   dosimeter_admin    as a station, and also manages wearers, hand-outs and limits and
//                      adds corrections of readouts (never an update of a readout)
//   dosimeter_reader   reads everything, for reports
// Logins get a role each; no login but the owner's may set an id, the server's login or
// time columns, or change or delete a row. The statements are idempotent: each run leaves
// exactly these rights on the tables of the schema, so running them again after an
// upgrade covers new tables and columns.
//
// Making the three roles needs a role administrator (CREATEROLE); granting their rights
// needs only the database's owner, which is all 'setup-roles --apply' asks for when the
// roles exist.
#include "records/records_repository.h"

#include <string>
#include <vector>

namespace dm::records {

inline constexpr const char* kStationRole = "dosimeter_station";
inline constexpr const char* kAdminRole = "dosimeter_admin";
inline constexpr const char* kReaderRole = "dosimeter_reader";

// The statements that make the three roles (each only when missing).
std::vector<std::string> RoleCreationStatements();

// The statements that grant the roles their rights on the database named databaseName,
// in order; run by the database's owner.
std::vector<std::string> RoleStatements(const std::string& databaseName);

// Runs them on repo (PostgreSQL) as one transaction, all or nothing, making the roles
// first when some are missing and the login may. Throws RecordsError: Refused when roles
// are missing and the login may not make them; WriteFailed (nothing changed) when it
// may not grant (not the owner).
void ApplyRoles(RecordsRepository& repo);

} // namespace dm::records
