#include "records/schema.h"

namespace dm::records {
namespace {

// Version 3: a readout is one reading, not one second. Two readouts of a dosimeter in the
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
        "{POSTGRES}ALTER TABLE readouts DROP CONSTRAINT readouts_dosimeter_id_taken_at_key",
        "{POSTGRES}ALTER TABLE readouts ADD CONSTRAINT readouts_one_reading"
        " UNIQUE (dosimeter_id, taken_at, content_key)",
        // SQLite cannot drop a constraint: the table is made again. Its rows go back in
        // after the new table has the old name, which settles the deferred check of the
        // parameters and corrections that refer to them.
        "{SQLITE}PRAGMA defer_foreign_keys = ON",
        "{SQLITE}CREATE TABLE readouts_before_content_keys AS SELECT * FROM readouts",
        "{SQLITE}DROP TABLE readouts",
        "{SQLITE}CREATE TABLE readouts ("
        " id {ID},"
        " dosimeter_id BIGINT NOT NULL REFERENCES dosimeters(id),"
        " taken_at BIGINT NOT NULL,"
        " station TEXT NOT NULL,"
        " operator_name TEXT NOT NULL,"
        " model TEXT NOT NULL,"
        " total_dose DOUBLE PRECISION,"
        " total_text TEXT,"
        " content_key TEXT NOT NULL DEFAULT '',"
        " UNIQUE (dosimeter_id, taken_at, content_key))",
        "{SQLITE}INSERT INTO readouts (id, dosimeter_id, taken_at, station, operator_name, model, total_dose,"
        " total_text, content_key) SELECT id, dosimeter_id, taken_at, station, operator_name, model, total_dose,"
        " total_text, content_key FROM readouts_before_content_keys",
        "{SQLITE}DROP TABLE readouts_before_content_keys",
        "{SQLITE}CREATE INDEX readouts_by_time ON readouts (taken_at)",
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
        SiteSettingsMigration(),  // version 2
        ReadoutsKeyedByContent(), // version 3
    };
    return migrations;
}

} // namespace dm::records
