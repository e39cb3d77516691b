#include "records/roles.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace dm::records {
namespace {

std::string Identifier(const std::string& name) {
    std::string out = "\"";
    for (char c : name)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

// Stations store what they read; nothing they store is ever updated or deleted.
constexpr const char* kStationTables =
    "dosimeters, readouts, readout_parameters, history_downloads, history_records, erase_events,"
    " change_sets, changes_sent";
// What only an administrator changes.
constexpr const char* kAdminTables = "wearers, assignments, dose_limits";

} // namespace

std::vector<std::string> RoleStatements(const std::string& databaseName) {
    const std::string all = std::string(kStationRole) + ", " + kAdminRole + ", " + kReaderRole;
    std::vector<std::string> out;
    for (const char* role : {kStationRole, kAdminRole, kReaderRole})
        out.push_back(std::string("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = '") + role +
                      "') THEN CREATE ROLE " + role + " NOLOGIN; END IF; END $$");
    out.push_back("GRANT CONNECT ON DATABASE " + Identifier(databaseName) + " TO " + all);
    out.push_back("GRANT USAGE ON SCHEMA public TO " + all);
    // Start from nothing, so a second run leaves exactly the rights below.
    out.push_back("REVOKE ALL ON ALL TABLES IN SCHEMA public FROM " + all);
    out.push_back("REVOKE ALL ON ALL SEQUENCES IN SCHEMA public FROM " + all);
    out.push_back("GRANT SELECT ON ALL TABLES IN SCHEMA public TO " + all);
    out.push_back(std::string("GRANT INSERT ON ") + kStationTables + " TO " + kStationRole + ", " + kAdminRole);
    out.push_back(std::string("GRANT INSERT, UPDATE, DELETE ON ") + kAdminTables + " TO " + kAdminRole);
    out.push_back(std::string("GRANT INSERT ON readout_corrections TO ") + kAdminRole);
    out.push_back(std::string("GRANT INSERT ON site_settings TO ") + kAdminRole); // the site's name
    // A hand-out locks its dosimeter's row (SELECT ... FOR UPDATE needs an UPDATE right);
    // the id is the only column granted, and the rows that refer to it keep it unchanged.
    out.push_back(std::string("GRANT UPDATE (id) ON dosimeters TO ") + kAdminRole);
    out.push_back(std::string("GRANT USAGE ON ALL SEQUENCES IN SCHEMA public TO ") + kStationRole + ", " +
                  kAdminRole);
    return out;
}

void ApplyRoles(RecordsRepository& repo) {
    const std::vector<std::string> statements = RoleStatements(repo.url().databaseName);
    repo.transaction("set up the roles", [&](QSqlDatabase& db) {
        for (const std::string& sql : statements) {
            QSqlQuery q(db);
            if (!q.exec(QString::fromStdString(sql)))
                throw q.lastError();
        }
    });
}

} // namespace dm::records
