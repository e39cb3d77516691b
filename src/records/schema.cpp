#include "records/schema.h"

#include <tuple>

namespace dm::records {
namespace {

// Tables whose rows a station or an officer adds, each keeping who added it and when by
// the server's account.
constexpr const char* kEventTables[] = {"readouts", "history_downloads", "erase_events", "change_sets", "wearers"};
// Tables with a server-numbered id.
constexpr const char* kIdentityTables[] = {"dosimeters",   "readouts",    "history_downloads",  "erase_events",
                                           "change_sets",  "assignments", "readout_corrections"};

// Rows added after their parent's transaction would change a reading or a change set
// after the fact: on PostgreSQL, a parameter, a history record or a changed key is
// accepted only in the transaction that added its parent row.
std::vector<std::string> ChildrenWithTheirParent(const std::string& child, const std::string& parent,
                                                 const std::string& column) {
    const std::string fn = "dm_" + child + "_with_parent";
    return {
        "pg:CREATE FUNCTION " + fn + "() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN"
        " IF NOT EXISTS (SELECT 1 FROM " + parent + " p WHERE p.id = NEW." + column +
            " AND p.xmin = xid(pg_current_xact_id())) THEN"
        " RAISE EXCEPTION 'rows of " + child + " are added only with their " + parent +
            " row, in its transaction' USING ERRCODE = '42501'; END IF; RETURN NEW; END $$",
        "pg:CREATE TRIGGER " + child + "_with_parent BEFORE INSERT ON " + child +
            " FOR EACH ROW EXECUTE FUNCTION " + fn + "()",
    };
}

// Version 2: the history is the server's. Ids only from the server; every row a station
// or an officer adds keeps the login and the server's time (column defaults a login
// without the owner's rights cannot set, see roles.cpp); hand-outs and limits become
// rows added, never changed, so who wore what and the limits in force at any time stay
// known. {NOW} is the database's clock in seconds since 1970, {LOGIN} the server's login
// (none on SQLite, whose file has one owner).
std::vector<std::string> ServerKeptHistory() {
    std::vector<std::string> out;
    for (const char* table : kIdentityTables) {
        const std::string t = table;
        out.push_back("pg:ALTER TABLE " + t + " ALTER COLUMN id SET GENERATED ALWAYS");
        // A station that inserted ids of its own left the numbering behind them.
        out.push_back("pg:SELECT setval(pg_get_serial_sequence('" + t + "', 'id'), COALESCE(MAX(id), 0) + 1, false)"
                      " FROM " + t);
    }
    for (const char* table : kEventTables) {
        const std::string t = table;
        // Rows from before are left without: nobody knows who stored them.
        out.push_back("ALTER TABLE " + t + " ADD COLUMN recorded_by TEXT");
        out.push_back("ALTER TABLE " + t + " ADD COLUMN recorded_at BIGINT");
        out.push_back("pg:ALTER TABLE " + t + " ALTER COLUMN recorded_by SET DEFAULT {LOGIN}");
        out.push_back("pg:ALTER TABLE " + t + " ALTER COLUMN recorded_at SET DEFAULT {NOW}");
        // SQLite adds no column with such a default: its clock is set by a trigger.
        out.push_back("sqlite:CREATE TRIGGER " + t + "_recorded AFTER INSERT ON " + t +
                      " BEGIN UPDATE " + t + " SET recorded_at = {NOW} WHERE rowid = NEW.rowid; END");
    }
    out.push_back("pg:ALTER TABLE readout_corrections ALTER COLUMN corrected_by SET DEFAULT {LOGIN}");
    out.push_back("pg:ALTER TABLE readout_corrections ALTER COLUMN corrected_at SET DEFAULT {NOW}");
    for (const auto& [child, parent, column] :
         {std::tuple<std::string, std::string, std::string>{"readout_parameters", "readouts", "readout_id"},
          {"history_records", "history_downloads", "download_id"},
          {"changes_sent", "change_sets", "change_set_id"}})
        for (std::string& sql : ChildrenWithTheirParent(child, parent, column))
            out.push_back(std::move(sql));

    // Hand-outs (a wearer) and hand-backs (none), in time order per dosimeter. The
    // assignments table is what they add up to, kept by the database alone.
    out.push_back("CREATE TABLE handovers ("
                  " id {ID},"
                  " dosimeter_id BIGINT NOT NULL REFERENCES dosimeters(id),"
                  " wearer_id TEXT REFERENCES wearers(id),"
                  " handed_at BIGINT NOT NULL,"
                  " recorded_by TEXT DEFAULT {LOGIN},"
                  " recorded_at BIGINT DEFAULT ({NOW}))");
    out.push_back("CREATE INDEX handovers_by_dosimeter ON handovers (dosimeter_id, handed_at)");
    out.push_back("INSERT INTO handovers (dosimeter_id, wearer_id, handed_at, recorded_by, recorded_at)"
                  " SELECT dosimeter_id, wearer_id, at, NULL, NULL FROM ("
                  "  SELECT dosimeter_id, wearer_id, from_at AS at, 1 AS kind, id FROM assignments"
                  "  UNION ALL"
                  "  SELECT a.dosimeter_id, NULL, a.until_at, 0, a.id FROM assignments a WHERE a.until_at IS NOT NULL"
                  "   AND NOT EXISTS (SELECT 1 FROM assignments b WHERE b.dosimeter_id = a.dosimeter_id"
                  "                   AND b.from_at = a.until_at)) x"
                  " ORDER BY at, kind, id");
    out.push_back(
        "pg:CREATE FUNCTION dm_apply_handover() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER"
        " SET search_path = public, pg_temp AS $$ BEGIN"
        " IF EXISTS (SELECT 1 FROM handovers h WHERE h.dosimeter_id = NEW.dosimeter_id AND h.id <> NEW.id"
        "  AND h.handed_at > NEW.handed_at) THEN"
        "  RAISE EXCEPTION 'a hand-out or hand-back before the last one of the dosimeter' USING ERRCODE = '23514';"
        " END IF;"
        " UPDATE assignments SET until_at = NEW.handed_at WHERE dosimeter_id = NEW.dosimeter_id AND until_at IS NULL;"
        " IF NEW.wearer_id IS NOT NULL THEN"
        "  INSERT INTO assignments (dosimeter_id, wearer_id, from_at) VALUES (NEW.dosimeter_id, NEW.wearer_id, NEW.handed_at);"
        " END IF; RETURN NEW; END $$");
    out.push_back("pg:CREATE TRIGGER handovers_apply AFTER INSERT ON handovers FOR EACH ROW"
                  " EXECUTE FUNCTION dm_apply_handover()");
    out.push_back("sqlite:CREATE TRIGGER handovers_in_order BEFORE INSERT ON handovers"
                  " WHEN EXISTS (SELECT 1 FROM handovers h WHERE h.dosimeter_id = NEW.dosimeter_id AND h.handed_at > NEW.handed_at)"
                  " BEGIN SELECT RAISE(ABORT, 'a hand-out or hand-back before the last one of the dosimeter'); END");
    out.push_back("sqlite:CREATE TRIGGER handovers_apply AFTER INSERT ON handovers BEGIN"
                  " UPDATE assignments SET until_at = NEW.handed_at WHERE dosimeter_id = NEW.dosimeter_id AND until_at IS NULL;"
                  " INSERT INTO assignments (dosimeter_id, wearer_id, from_at)"
                  "  SELECT NEW.dosimeter_id, NEW.wearer_id, NEW.handed_at WHERE NEW.wearer_id IS NOT NULL;"
                  " END");

    // Each change of a limit is a row, in force from the server's time of the change; the
    // limits before this version count as in force since the beginning.
    out.push_back("CREATE TABLE dose_limit_changes ("
                  " id {ID},"
                  " name TEXT NOT NULL CHECK (name IN ('annual', 'single_year', 'five_year', 'investigation')),"
                  " sv DOUBLE PRECISION NOT NULL CHECK (sv > 0),"
                  " in_force_from BIGINT NOT NULL DEFAULT ({NOW}),"
                  " recorded_by TEXT DEFAULT {LOGIN})");
    out.push_back("INSERT INTO dose_limit_changes (name, sv, in_force_from, recorded_by)"
                  " SELECT name, sv, 0, NULL FROM dose_limits ORDER BY name");
    out.push_back("DROP TABLE dose_limits");
    for (const char* table : {"handovers", "dose_limit_changes"})
        out.push_back(std::string("pg:ALTER TABLE ") + table + " ALTER COLUMN id SET GENERATED ALWAYS");
    out.push_back("CREATE VIEW dose_limits AS SELECT c.name, c.sv FROM dose_limit_changes c"
                  " WHERE c.id = (SELECT MAX(l.id) FROM dose_limit_changes l WHERE l.name = c.name)");
    return out;
}

// Version 4: a readout is one reading, not one second. Two readouts of a dosimeter in the
// same second are both kept unless they hold the same content (model, total and every
// parameter as received: content_key, a digest of them), so a replayed spool or a repeated
// import still stores nothing twice. Rows stored before keep an empty key; a new readout at
// their second is compared with them by content. total_text keeps the "total_val" text
// as read; total_dose is NULL when that text is no dose (negative, empty, unreadable, "nan",
// "inf"), which earlier versions stored as read or as 0.
std::vector<std::string> ReadoutsKeyedByContent() {
    return {
        "ALTER TABLE readouts ADD COLUMN total_text TEXT",
        "ALTER TABLE readouts ADD COLUMN content_key TEXT NOT NULL DEFAULT ''",
        "UPDATE readouts SET total_text = (SELECT p.raw_value FROM readout_parameters p"
        " WHERE p.readout_id = readouts.id AND p.key = 'total_val' ORDER BY p.position LIMIT 1)",
        "UPDATE readouts SET total_dose = NULL WHERE total_dose < 0 OR (total_text IS NOT NULL AND"
        " substr(ltrim(total_text), 1, 1) NOT IN ('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', '.', '+'))",
        "pg:ALTER TABLE readouts DROP CONSTRAINT readouts_dosimeter_id_taken_at_key",
        "pg:ALTER TABLE readouts ADD CONSTRAINT readouts_one_reading"
        " UNIQUE (dosimeter_id, taken_at, content_key)",
        // SQLite cannot drop a constraint: the table is made again. Its rows go back in
        // after the new table has the old name, which settles the deferred check of the
        // parameters and corrections that refer to them.
        "sqlite:PRAGMA defer_foreign_keys = ON",
        "sqlite:CREATE TABLE readouts_before_content_keys AS SELECT * FROM readouts",
        "sqlite:DROP TABLE readouts",
        "sqlite:CREATE TABLE readouts ("
        " id {ID},"
        " dosimeter_id BIGINT NOT NULL REFERENCES dosimeters(id),"
        " taken_at BIGINT NOT NULL,"
        " station TEXT NOT NULL,"
        " operator_name TEXT NOT NULL,"
        " model TEXT NOT NULL,"
        " total_dose DOUBLE PRECISION,"
        " total_text TEXT,"
        " content_key TEXT NOT NULL DEFAULT '',"
        " recorded_by TEXT,"
        " recorded_at BIGINT,"
        " UNIQUE (dosimeter_id, taken_at, content_key))",
        "sqlite:INSERT INTO readouts (id, dosimeter_id, taken_at, station, operator_name, model, total_dose,"
        " total_text, content_key, recorded_by, recorded_at) SELECT id, dosimeter_id, taken_at, station,"
        " operator_name, model, total_dose, total_text, content_key, recorded_by, recorded_at"
        " FROM readouts_before_content_keys",
        "sqlite:DROP TABLE readouts_before_content_keys",
        "sqlite:CREATE INDEX readouts_by_time ON readouts (taken_at)",
        // The table made again lost the trigger that keeps SQLite's time of storing.
        "sqlite:CREATE TRIGGER readouts_recorded AFTER INSERT ON readouts"
        " BEGIN UPDATE readouts SET recorded_at = {NOW} WHERE rowid = NEW.rowid; END",
        // The rows a new readout must be compared with by content, found without a scan.
        "CREATE INDEX readouts_without_content_key ON readouts (dosimeter_id, taken_at) WHERE content_key = ''",
    };
}

// The site's own settings; the name heads every dose record printed. A change is a row of
// its own (who, when), so the name a record was printed under stays known; the latest row
// of a setting holds.
std::vector<std::string> SiteSettingsMigration() {
    return {
        "CREATE TABLE site_settings ("
        " id {ID},"
        " setting TEXT NOT NULL,"
        " value TEXT NOT NULL,"
        " set_at BIGINT NOT NULL,"
        " set_by TEXT NOT NULL)",
        "CREATE INDEX site_settings_by_setting ON site_settings (setting, id)",
    };
}

} // namespace

const std::vector<std::vector<std::string>>& SchemaMigrations() {
    static const std::vector<std::vector<std::string>> migrations = {
        // Version 1. Times are whole seconds since 1970 UTC, doses Sv. Nothing a station
        // stores is ever updated in place: a correction is a row of its own, so the
        // station role of a shared database needs INSERT and SELECT only.
        {
            "CREATE TABLE schema_version (version INTEGER NOT NULL)",
            "CREATE TABLE dosimeters ("
            " id {ID},"
            " serial TEXT NOT NULL UNIQUE)",
            "CREATE TABLE readouts ("
            " id {ID},"
            " dosimeter_id BIGINT NOT NULL REFERENCES dosimeters(id),"
            " taken_at BIGINT NOT NULL,"
            " station TEXT NOT NULL,"
            " operator_name TEXT NOT NULL,"
            " model TEXT NOT NULL,"
            " total_dose DOUBLE PRECISION,"
            " UNIQUE (dosimeter_id, taken_at))",
            "CREATE TABLE readout_parameters ("
            " readout_id BIGINT NOT NULL REFERENCES readouts(id),"
            " position INTEGER NOT NULL,"
            " key TEXT NOT NULL,"
            " raw_value TEXT NOT NULL,"
            " PRIMARY KEY (readout_id, position))",
            "CREATE TABLE history_downloads ("
            " id {ID},"
            " dosimeter_id BIGINT NOT NULL REFERENCES dosimeters(id),"
            " taken_at BIGINT NOT NULL,"
            " station TEXT NOT NULL,"
            " operator_name TEXT NOT NULL,"
            " record_interval DOUBLE PRECISION NOT NULL,"
            " layout TEXT NOT NULL CHECK (layout IN ('A', 'B')),"
            " UNIQUE (dosimeter_id, taken_at))",
            "CREATE TABLE history_records ("
            " download_id BIGINT NOT NULL REFERENCES history_downloads(id),"
            " section TEXT NOT NULL CHECK (section IN ('gamma', 'neutron')),"
            " number INTEGER NOT NULL,"
            " seconds BIGINT,"
            " dose_text TEXT NOT NULL,"
            " dose DOUBLE PRECISION NOT NULL,"
            " coefficient TEXT,"
            " PRIMARY KEY (download_id, section, number))",
            "CREATE TABLE erase_events ("
            " id {ID},"
            " dosimeter_id BIGINT NOT NULL REFERENCES dosimeters(id),"
            " taken_at BIGINT NOT NULL,"
            " station TEXT NOT NULL,"
            " operator_name TEXT NOT NULL,"
            " total_dose_before DOUBLE PRECISION,"
            " UNIQUE (dosimeter_id, taken_at))",
            "CREATE TABLE change_sets ("
            " id {ID},"
            " dosimeter_id BIGINT NOT NULL REFERENCES dosimeters(id),"
            " taken_at BIGINT NOT NULL,"
            " station TEXT NOT NULL,"
            " operator_name TEXT NOT NULL,"
            " UNIQUE (dosimeter_id, taken_at))",
            "CREATE TABLE changes_sent ("
            " change_set_id BIGINT NOT NULL REFERENCES change_sets(id),"
            " position INTEGER NOT NULL,"
            " key TEXT NOT NULL,"
            " before_value TEXT NOT NULL,"
            " after_value TEXT NOT NULL,"
            " taken INTEGER NOT NULL CHECK (taken IN (0, 1)),"
            " PRIMARY KEY (change_set_id, position))",
            "CREATE TABLE wearers ("
            " id TEXT PRIMARY KEY,"
            " name TEXT NOT NULL,"
            " born TEXT)",
            // until_at NULL: still assigned. A hand-over ends the earlier row.
            "CREATE TABLE assignments ("
            " id {ID},"
            " dosimeter_id BIGINT NOT NULL REFERENCES dosimeters(id),"
            " wearer_id TEXT NOT NULL REFERENCES wearers(id),"
            " from_at BIGINT NOT NULL,"
            " until_at BIGINT,"
            " CHECK (until_at IS NULL OR until_at >= from_at),"
            " UNIQUE (dosimeter_id, from_at))",
            "CREATE TABLE dose_limits ("
            " name TEXT PRIMARY KEY CHECK (name IN ('annual', 'single_year', 'five_year', 'investigation')),"
            " sv DOUBLE PRECISION NOT NULL)",
            "INSERT INTO dose_limits (name, sv) VALUES ('annual', 0.020), ('single_year', 0.050),"
            " ('five_year', 0.100), ('investigation', 0.006)",
            // A corrected total dose: the latest correction of a readout wins.
            "CREATE TABLE readout_corrections ("
            " id {ID},"
            " readout_id BIGINT NOT NULL REFERENCES readouts(id),"
            " total_dose DOUBLE PRECISION NOT NULL,"
            " reason TEXT NOT NULL,"
            " corrected_by TEXT NOT NULL,"
            " corrected_at BIGINT NOT NULL)",
            "CREATE INDEX readouts_by_time ON readouts (taken_at)",
            "CREATE INDEX assignments_by_wearer ON assignments (wearer_id, from_at)",
            "CREATE INDEX corrections_by_readout ON readout_corrections (readout_id)",
            "INSERT INTO schema_version (version) VALUES (1)",
        },
        ServerKeptHistory(),      // version 2
        SiteSettingsMigration(),  // version 3
        ReadoutsKeyedByContent(), // version 4
    };
    return migrations;
}

} // namespace dm::records
