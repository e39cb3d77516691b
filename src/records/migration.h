#pragma once
// Brings a records database to the schema this program knows (schema.h): a file that is
// no database, a database of other tables, or one written by a newer version is told
// apart before anything is written to it and left untouched; the migrations missing run
// in one transaction, which another station upgrading the same database waits for.
#include "records/sql_connection.h"

namespace dm::records {

// The number of the newest schema this program knows.
int CurrentSchemaVersion();

// Within a call: the schema version on disk, 0 for a database without tables, -1 for one
// of other tables. Throws SqlFailure.
int StoredSchemaVersion(SqlConnection& sql);

// Checks the database just opened, starts its session and upgrades its schema when
// needed. Throws RecordsError: NotADatabase and NewerSchema leave the database untouched.
void MigrateRecords(SqlConnection& sql);

} // namespace dm::records
