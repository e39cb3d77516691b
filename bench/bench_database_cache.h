#pragma once
// Where the records benchmarks keep the big databases they build once: inside the build
// tree (a fresh checkout builds its own), named for the schema version, and rebuilt when
// the file there no longer opens with the current code.
#include <filesystem>
#include <functional>
#include <string>

#include "records/records_repository.h"

namespace dm::bench {

inline std::filesystem::path DatabaseCacheDir(const std::string& name) {
    return std::filesystem::path(DM_BIN_DIR) / ".." / "bench-cache" / name;
}

// Returns the path of `stem` built by `fill` (given the path of an empty schema); a cached
// file is used only if it opens at the current schema version.
inline std::string CachedDatabase(const std::string& name, const std::string& stem,
                                  const std::function<void(const std::string&)>& fill) {
    namespace fs = std::filesystem;
    const fs::path dir = DatabaseCacheDir(name);
    const fs::path file =
        dir / (stem + "-schema" + std::to_string(records::RecordsRepository::currentSchemaVersion()) + ".sqlite");
    auto removeWithJournals = [](const fs::path& p) {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"})
            fs::remove(p.string() + suffix);
    };
    if (fs::exists(file)) {
        try {
            if (records::RecordsRepository::open("sqlite:" + file.string())->schemaVersion() ==
                records::RecordsRepository::currentSchemaVersion())
                return file.string();
        } catch (const std::exception&) {
        }
        removeWithJournals(file);
    }
    fs::create_directories(dir);
    const fs::path building = dir / (stem + ".building.sqlite");
    removeWithJournals(building);
    records::RecordsRepository::open("sqlite:" + building.string()); // the schema
    fill(building.string());
    fs::rename(building, file);
    return file.string();
}

} // namespace dm::bench
