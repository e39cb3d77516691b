#include "records/records_repository.h"

#include "records/migration.h"
#include "records/private_files.h"
#include "records/sql_connection.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace dm::records {
namespace {

using Kind = RecordsError::Kind;

// Creates the SQLite file's folder (owner only, each folder made 0700) and the file itself
// (owner only), so the personal data in it is never readable by others, not even for a
// moment; refuses a file or folder another user owns or others may write.
void PrepareSqliteFile(const std::string& path, const std::string& display) {
    namespace fs = std::filesystem;
    const fs::path file(path);
    std::error_code ec;
    std::string error;
    if (!CreatePrivateFolders(file.parent_path(), &error))
        throw RecordsError(Kind::CannotOpen, display + ": " + error);
    if (const auto unsafe = UnsafeRecordsFile(file, "the records database"))
        throw RecordsError(Kind::Unsafe, display + ": " + *unsafe);
    if (fs::exists(file, ec))
        return;
#ifndef _WIN32
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && errno != EEXIST)
        throw RecordsError(Kind::CannotOpen, display + ": cannot create the file: " + std::strerror(errno));
    if (fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
    } else if (const auto unsafe = UnsafeRecordsFile(file, "the records database")) {
        throw RecordsError(Kind::Unsafe, display + ": " + *unsafe); // someone else's, made just now
    }
#endif
}

} // namespace

RecordsRepository::RecordsRepository(DatabaseUrl url, std::unique_ptr<SqlConnection> sql)
    : url_(std::move(url)), sql_(std::move(sql)) {}

RecordsRepository::~RecordsRepository() = default;

int RecordsRepository::currentSchemaVersion() { return CurrentSchemaVersion(); }

std::unique_ptr<RecordsRepository> RecordsRepository::open(const std::string& urlText, Access access) {
    std::string error;
    const std::optional<DatabaseUrl> url = ParseDatabaseUrl(urlText, &error);
    if (!url)
        throw RecordsError(Kind::BadUrl, error);
    return open(*url, access);
}

std::unique_ptr<RecordsRepository> RecordsRepository::open(const DatabaseUrl& url, Access access) {
    SqlConnection::Options options;
    options.display = url.displayName();
    if (url.kind == DatabaseUrl::Kind::Sqlite)
        options.prepare = [&url, access, display = options.display] {
            if (std::error_code ec; access == Access::ForReading && !std::filesystem::exists(url.path, ec))
                throw RecordsError(Kind::CannotOpen, display + ": no records database there (a command that only reads"
                                                               " makes none; is the path right?)");
            PrepareSqliteFile(url.path, display);
        };
    std::unique_ptr<SqlConnection> sql = SqlConnection::open(url, std::move(options));
    MigrateRecords(*sql);
    return std::unique_ptr<RecordsRepository>(new RecordsRepository(url, std::move(sql)));
}

int RecordsRepository::schemaVersion() const {
    return sql_->read("read the schema version", [&] { return StoredSchemaVersion(*sql_); });
}

void RecordsRepository::transaction(const std::string& what, const std::function<void(SqlConnection&)>& fn) {
    sql_->transact(what, [&] { fn(*sql_); });
}

void RecordsRepository::reading(const std::string& what, const std::function<void(SqlConnection&)>& fn) const {
    sql_->read(what, [&] { fn(*sql_); });
}

} // namespace dm::records
