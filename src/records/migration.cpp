#include "records/migration.h"

#include "records/schema.h"

#include <algorithm>
#include <cctype>

namespace dm::records {
namespace {

using Kind = RecordsError::Kind;

bool IsTable(const std::vector<std::string>& tables, const std::string& name) {
    return std::any_of(tables.begin(), tables.end(), [&](const std::string& t) {
        return std::equal(t.begin(), t.end(), name.begin(), name.end(),
                          [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
    });
}

} // namespace

int CurrentSchemaVersion() { return static_cast<int>(SchemaMigrations().size()); }

int StoredSchemaVersion(SqlConnection& sql) {
    const std::vector<std::string> tables = sql.tables();
    if (tables.empty())
        return 0;
    if (!IsTable(tables, "schema_version"))
        return -1;
    QSqlQuery& q = sql.run("SELECT MAX(version) FROM schema_version");
    const int version = q.next() ? q.value(0).toInt() : 0;
    q.finish(); // an open statement would lock the table against the migration's changes
    return version;
}

void MigrateRecords(SqlConnection& sql) {
    const std::string& display = sql.display();
    const int current = CurrentSchemaVersion();
    const int version = sql.read(
        "open the database",
        [&] {
            if (!sql.postgres()) {
                // Reading the schema first tells a foreign file apart without writing to it.
                try {
                    sql.run("PRAGMA schema_version");
                } catch (const SqlFailure& f) {
                    if (f.error.nativeErrorCode() == QLatin1String("26"))
                        throw RecordsError(Kind::NotADatabase, display + ": not a database");
                    throw;
                }
            }
            const int stored = StoredSchemaVersion(sql);
            if (stored < 0)
                throw RecordsError(Kind::NotADatabase, display + ": not a records database (it holds other tables)");
            if (stored > current)
                throw RecordsError(Kind::NewerSchema, display + ": written by a newer version of the program (schema " +
                                                          std::to_string(stored) + ", this one knows up to " +
                                                          std::to_string(current) + "); left untouched");
            return stored;
        },
        Kind::CannotOpen);
    // Apart from the probe: SQLite switches to WAL only with no statement open.
    sql.read("open the database", [&] { sql.startSession(); }, Kind::CannotOpen);
    if (version >= current)
        return;
    sql.transact("create the records schema", [&] {
        // Another station may be upgrading the same database right now.
        sql.execute("pg:SELECT pg_advisory_xact_lock(7317004)");
        int now = StoredSchemaVersion(sql);
        if (now < 0 || now > current)
            throw SqlFailure{QSqlError(QStringLiteral("schema changed by another program"), {}, QSqlError::UnknownError)};
        for (; now < current; ++now) {
            for (const std::string& statement : SchemaMigrations()[static_cast<std::size_t>(now)])
                sql.execute(statement);
            if (now > 0)
                sql.run("UPDATE schema_version SET version = ?", {now + 1});
        }
    });
}

} // namespace dm::records
