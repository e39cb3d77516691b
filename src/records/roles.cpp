#include "records/roles.h"

#include "records/sql_connection.h"

#include <QSqlQuery>

namespace dm::records {
namespace {

using Kind = RecordsError::Kind;

std::string Identifier(const std::string& name) {
    std::string out = "\"";
    for (char c : name)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

// Stations store what they read; nothing they store is ever updated or deleted.
constexpr const char* kStationTables =
    "'dosimeters', 'readouts', 'readout_parameters', 'history_downloads', 'history_records', 'erase_events',"
    " 'change_sets', 'changes_sent'";
// What only an officer adds: wearers, hand-outs and hand-backs, limits, corrections.
constexpr const char* kAdminTables =
    "'wearers', 'handovers', 'dose_limit_changes', 'readout_corrections', 'site_settings'";
// Columns the server fills itself (and the identity ids): no login of a site may give them.
constexpr const char* kServerColumns =
    "'recorded_by', 'recorded_at', 'corrected_by', 'corrected_at', 'in_force_from'";

// Grants INSERT on every column of the tables but the server's, read from the catalogue
// so that columns a later version adds are covered by running the statements again.
std::string GrantInsertOnOwnColumns(const char* tables, const std::string& roles) {
    return std::string("DO $$ DECLARE t text; cols text; BEGIN FOREACH t IN ARRAY ARRAY[") + tables +
           "] LOOP SELECT string_agg(quote_ident(column_name), ', ' ORDER BY ordinal_position) INTO cols"
           " FROM information_schema.columns WHERE table_schema = 'public' AND table_name = t"
           " AND column_name NOT IN (" + kServerColumns + ") AND is_identity = 'NO';"
           " EXECUTE format('GRANT INSERT (%s) ON %I TO " + roles + "', cols, t); END LOOP; END $$";
}

} // namespace

std::vector<std::string> RoleCreationStatements() {
    std::vector<std::string> out;
    for (const char* role : {kStationRole, kAdminRole, kReaderRole})
        out.push_back(std::string("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = '") + role +
                      "') THEN CREATE ROLE " + role + " NOLOGIN; END IF; END $$");
    return out;
}

std::vector<std::string> RoleStatements(const std::string& databaseName) {
    const std::string all = std::string(kStationRole) + ", " + kAdminRole + ", " + kReaderRole;
    const std::string writers = std::string(kStationRole) + ", " + kAdminRole;
    std::vector<std::string> out;
    // Only the site's roles (and the owner) reach the database at all.
    out.push_back("REVOKE ALL ON DATABASE " + Identifier(databaseName) + " FROM PUBLIC");
    out.push_back("GRANT CONNECT ON DATABASE " + Identifier(databaseName) + " TO " + all);
    out.push_back("GRANT USAGE ON SCHEMA public TO " + all);
    // Start from nothing, so a second run leaves exactly the rights below.
    out.push_back("REVOKE ALL ON ALL TABLES IN SCHEMA public FROM PUBLIC, " + all);
    out.push_back("REVOKE ALL ON ALL SEQUENCES IN SCHEMA public FROM PUBLIC, " + all);
    out.push_back("GRANT SELECT ON ALL TABLES IN SCHEMA public TO " + all);
    out.push_back(GrantInsertOnOwnColumns(kStationTables, writers));
    out.push_back(GrantInsertOnOwnColumns(kAdminTables, kAdminRole));
    return out;
}

void ApplyRoles(RecordsRepository& repo) {
    const std::vector<std::string> creation = RoleCreationStatements();
    const std::vector<std::string> statements = RoleStatements(repo.url().databaseName);
    bool missing = false;
    std::string owner;
    repo.transaction("set up the roles", [&](SqlConnection& sql) {
        // The server only warns when a login that does not own the tables grants rights on
        // them, and grants nothing: refused here instead of reported as done.
        QSqlQuery& own = sql.run("SELECT tableowner, pg_has_role(tableowner, 'USAGE') OR"
                                                     " (SELECT rolsuper FROM pg_roles WHERE rolname = current_user)"
                                                     " FROM pg_tables WHERE schemaname = 'public' AND tablename = 'readouts'");
        if (own.next() && !own.value(1).toBool()) {
            owner = own.value(0).toString().toStdString();
            return;
        }
        QSqlQuery& may = sql.run("SELECT (SELECT COUNT(*) FROM pg_roles WHERE rolname IN"
                                                     " ('dosimeter_station', 'dosimeter_admin', 'dosimeter_reader')),"
                                                     " (SELECT rolcreaterole OR rolsuper FROM pg_roles"
                                                     "  WHERE rolname = current_user)");
        if (may.next() && may.value(0).toInt() < 3) {
            if (!may.value(1).toBool()) {
                missing = true;
                return;
            }
            for (const std::string& statement : creation)
                sql.execute(statement); // DO and GRANT cannot be prepared
        }
        for (const std::string& statement : statements)
            sql.execute(statement);
    });
    if (!owner.empty())
        throw RecordsError(Kind::Refused, repo.displayName() + ": only the owner of the records tables (" + owner +
                                              ") can grant the roles their rights; run 'setup-roles --apply' as that login");
    if (missing)
        throw RecordsError(Kind::Refused,
                           repo.displayName() + ": the roles dosimeter_station, dosimeter_admin and dosimeter_reader "
                                                "do not exist yet and this login may not create roles: have a "
                                                "role administrator create them first (see 'setup-roles')");
}

} // namespace dm::records
