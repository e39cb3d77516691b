#include "records/site_settings.h"

#include "core/cp1251.h"
#include "qt/qt_text.h"
#include "records/sql_connection.h"

#include <algorithm>

namespace dm::records {
namespace {

using dm::Q;
using sql::S;

constexpr std::size_t kMaxNameCharacters = 200;

} // namespace

std::optional<std::string> SiteName(RecordsRepository& repo) {
    std::optional<std::string> name;
    repo.reading("read the site's name", [&](SqlConnection& sql) {
        QSqlQuery& q = sql.run("SELECT value FROM site_settings WHERE setting = 'site_name'"
                                              " ORDER BY id DESC LIMIT 1");
        if (q.next())
            name = S(q.value(0));
    });
    return name;
}

void SetSiteName(RecordsRepository& repo, const std::string& name, const std::string& by, UtcSeconds at) {
    if (!IsValidUtf8(name))
        throw RecordsError(RecordsError::Kind::Refused, "a site's name must be UTF-8 text");
    if (std::all_of(name.begin(), name.end(), [](unsigned char c) { return c == ' '; }))
        throw RecordsError(RecordsError::Kind::Refused, "a site's name must not be blank");
    // A heading is one line: no line breaks, tabs or other control characters.
    if (std::any_of(name.begin(), name.end(), [](unsigned char c) { return c < ' ' || c == 0x7f; }))
        throw RecordsError(RecordsError::Kind::Refused, "a site's name is one line of text without control characters");
    if (Utf8Length(name) > kMaxNameCharacters)
        throw RecordsError(RecordsError::Kind::Refused,
                           "a site's name has at most " + std::to_string(kMaxNameCharacters) + " characters");
    const bool postgres = repo.url().kind == DatabaseUrl::Kind::Postgres;
    repo.transaction("set the site's name", [&](SqlConnection& sql) {
        // On a shared database the login the server checked is the one on record.
        std::string who = by;
        if (postgres) {
            QSqlQuery& q = sql.run("SELECT session_user");
            if (q.next())
                who = S(q.value(0));
        }
        sql.run("INSERT INTO site_settings (setting, value, set_at, set_by) VALUES ('site_name', ?, ?, ?)",
             {Q(name), QVariant(qlonglong(at)), Q(who)});
    });
}

} // namespace dm::records
