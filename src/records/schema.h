#pragma once
// The records schema as versioned migrations: migration N takes a database from
// version N-1 to N. Version 1 is the first schema; later versions only add steps.
#include <string>
#include <vector>

namespace dm::records {

// The statements of each migration, oldest first. "{ID}" stands for the dialect's
// auto-numbered primary key column; a statement that starts with "{SQLITE}" or
// "{POSTGRES}" runs on that dialect only.
const std::vector<std::vector<std::string>>& SchemaMigrations();

} // namespace dm::records
