#pragma once
// The two back ends the records tests run against: a fresh SQLite file, and a fresh
// database on the PostgreSQL server the test command started (its URL in DM_TEST_PG_URL,
// or in the file DM_TEST_PG_URL_FILE names). Without one the PostgreSQL cases skip.
#include "records/database_url.h"
#include "records/records_repository.h"

#include <QSqlDatabase>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace dm::records::test {

inline void EnsureQtCore() { EnsureQtCoreApplication("records_tests"); }

inline std::string PgBaseUrl() {
    if (const char* url = std::getenv("DM_TEST_PG_URL"); url && *url)
        return url;
    if (const char* file = std::getenv("DM_TEST_PG_URL_FILE"); file && *file) {
        std::ifstream in(file);
        std::string url;
        std::getline(in, url);
        return url;
    }
    return {};
}

inline std::string UrlText(const DatabaseUrl& u) {
    if (u.kind == DatabaseUrl::Kind::Sqlite)
        return "sqlite:" + u.path;
    std::string text = "postgresql://" + u.user + (u.password.empty() ? "" : ":" + u.password) + "@";
    if (u.socketDir.empty())
        return text + u.host + ":" + std::to_string(u.port) + "/" + u.databaseName;
    return text + "/" + u.databaseName + "?host=" + u.socketDir + "&port=" + std::to_string(u.port);
}

// Runs one statement on the server's maintenance database.
inline bool PgAdmin(const DatabaseUrl& base, const std::string& sql) {
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("records-test-admin"));
        db.setHostName(QString::fromStdString(base.socketDir.empty() ? base.host : base.socketDir));
        db.setPort(base.port);
        db.setDatabaseName(QString::fromStdString(base.databaseName));
        db.setUserName(QString::fromStdString(base.user));
        db.setPassword(QString::fromStdString(base.password));
        if (db.open())
            ok = QSqlQuery(db).exec(QString::fromStdString(sql));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("records-test-admin"));
    return ok;
}

// A fresh, empty database of the back end `name` for one test; dropped afterwards.
class ScratchDatabase {
public:
    // Empty when the back end is not available (the reason in skipReason()).
    explicit ScratchDatabase(const std::string& backend) {
        EnsureQtCore();
        static int counter = 0;
        const std::string tag = std::to_string(::getpid()) + "_" + std::to_string(++counter);
        if (backend == "sqlite") {
            dir_ = std::filesystem::temp_directory_path() / ("dm-records-" + tag);
            std::filesystem::remove_all(dir_);
            url_.kind = DatabaseUrl::Kind::Sqlite;
            url_.path = (dir_ / "records.sqlite").string();
            ready_ = true;
            return;
        }
        const std::string base = PgBaseUrl();
        if (base.empty()) {
            skip_ = "no PostgreSQL test server (run the tests through ctest, or set DM_TEST_PG_URL)";
            return;
        }
        std::string error;
        auto parsed = ParseDatabaseUrl(base, &error);
        if (!parsed) {
            skip_ = "DM_TEST_PG_URL: " + error;
            return;
        }
        base_ = *parsed;
        url_ = base_;
        url_.databaseName = "records_" + tag;
        ready_ = PgAdmin(base_, "CREATE DATABASE " + url_.databaseName);
        if (!ready_)
            skip_ = "cannot create a database on " + base_.displayName();
    }
    ~ScratchDatabase() {
        if (!dir_.empty())
            std::filesystem::remove_all(dir_);
        else if (ready_)
            PgAdmin(base_, "DROP DATABASE IF EXISTS " + url_.databaseName + " WITH (FORCE)");
    }

    bool ready() const { return ready_; }
    const std::string& skipReason() const { return skip_; }
    const DatabaseUrl& url() const { return url_; }
    std::string urlText() const { return UrlText(url_); }
    bool postgres() const { return url_.kind == DatabaseUrl::Kind::Postgres; }

private:
    DatabaseUrl base_;
    DatabaseUrl url_;
    std::filesystem::path dir_;
    bool ready_ = false;
    std::string skip_;
};

#define DM_REQUIRE_BACKEND(db)                                                                    \
    do {                                                                                          \
        if (!(db).ready())                                                                        \
            GTEST_SKIP() << (db).skipReason();                                                    \
    } while (0)

} // namespace dm::records::test
