#include "records/schema.h"

namespace dm::records {
namespace {

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
        SiteSettingsMigration(), // version 2
    };
    return migrations;
}

} // namespace dm::records
