#pragma once
// The records schema as versioned migrations: migration N takes a database from
// version N-1 to N. Version 1 is the first schema; later versions only add steps.
#include <string>
#include <vector>

namespace dm::records {

// The statements of each migration, oldest first. "{ID}" stands for the dialect's
// auto-numbered primary key column (numbered by the server alone on PostgreSQL), "{NOW}" for the database's clock in whole seconds
// since 1970 UTC, "{LOGIN}" for the server's login (NULL on SQLite). A statement that
// starts "pg:" or "sqlite:" runs on that dialect only.
const std::vector<std::vector<std::string>>& SchemaMigrations();

} // namespace dm::records
