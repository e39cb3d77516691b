// Database URLs, record times and the wearer of a readout: the rules at their edges.
#include "records/database_url.h"
#include "records/dose_accounting.h"
#include "records/utc_time.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace dm::records {
namespace {

TEST(DatabaseUrl, FormsOfTheContractAndTheirDisplayNames) {
    std::string error;
    auto u = ParseDatabaseUrl("postgresql://site:p%40ss:w@db.example:6543/dose", &error);
    ASSERT_TRUE(u) << error;
    EXPECT_EQ(u->user, "site");
    EXPECT_EQ(u->password, "p@ss:w");
    EXPECT_EQ(u->host, "db.example");
    EXPECT_EQ(u->port, 6543);
    EXPECT_EQ(u->displayName(), "postgresql://site@db.example:6543/dose");

    u = ParseDatabaseUrl("postgresql://st@/dose?host=/run/pg&port=5433", &error);
    ASSERT_TRUE(u) << error;
    EXPECT_EQ(u->socketDir, "/run/pg");
    EXPECT_EQ(u->port, 5433);
    EXPECT_EQ(u->displayName(), "postgresql://st@/dose?host=/run/pg&port=5433");

    u = ParseDatabaseUrl("postgresql://st@[::1]/dose", &error);
    ASSERT_TRUE(u) << error;
    EXPECT_EQ(u->displayName(), "postgresql://st@[::1]:5432/dose");

    u = ParseDatabaseUrl("sqlite:/var/lib/records.sqlite", &error);
    ASSERT_TRUE(u);
    EXPECT_EQ(u->path, "/var/lib/records.sqlite");
}

TEST(DatabaseUrl, MalformedOnesAreRefusedWithoutQuotingThePassword) {
    for (const char* bad : {"", "sqlite:", "mysql://u:secret@h/db", "postgresql://secret@host",
                            "postgresql://u:secret@h:0/db", "postgresql://u:secret@h:99999/db",
                            "postgresql://u:secret@h:5x/db", "postgresql://:secret@h/db",
                            "postgresql://u:secret@h/", "postgresql://u:sec%zzret@h/db",
                            "postgresql://u:secret@h/db?sslmode=dis;able", "postgresql://u:secret@h/db?host=/x",
                            "postgresql://u:secret@h/db?options=-csearch_path%3Dx", "postgresql://u:secret@h/db?connect_timeout=1",
                            "/home/me/records.sqlite", "secret"}) {
        std::string error;
        EXPECT_FALSE(ParseDatabaseUrl(bad, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
        EXPECT_EQ(error.find("secret"), std::string::npos) << error;
    }
}

TEST(DatabaseUrl, OptionThenEnvironmentThenSettingThenDefault) {
    ::setenv("DOSIMETER_RECORDS", "sqlite:/env.sqlite", 1);
    EXPECT_EQ(ChooseDatabaseUrlText("sqlite:/opt.sqlite", "sqlite:/set.sqlite"), "sqlite:/opt.sqlite");
    EXPECT_EQ(ChooseDatabaseUrlText("", "sqlite:/set.sqlite"), "sqlite:/env.sqlite");
    ::unsetenv("DOSIMETER_RECORDS");
    EXPECT_EQ(ChooseDatabaseUrlText("", "sqlite:/set.sqlite"), "sqlite:/set.sqlite");
    ::setenv("XDG_DATA_HOME", "/tmp/xdg-data", 1);
    EXPECT_EQ(ChooseDatabaseUrlText("", ""), "sqlite:/tmp/xdg-data/dosimeter-manager/records.sqlite");
}

TEST(UtcTime, OnlyTheExactFormAndRealDates) {
    EXPECT_EQ(ParseUtcTime("1970-01-01T00:00:00Z"), 0);
    EXPECT_EQ(ParseUtcTime("2024-02-29T23:59:59Z"), 1709251199);
    for (const std::int64_t t : {std::int64_t{0}, std::int64_t{951782400}, std::int64_t{1709251199},
                                 std::int64_t{-86401}, std::int64_t{253402300799}})
        EXPECT_EQ(ParseUtcTime(FormatUtcTime(t)), t) << FormatUtcTime(t);
    for (const char* bad : {"2023-02-29T00:00:00Z", "2026-13-01T00:00:00Z", "2026-01-01T24:00:00Z",
                            "2026-01-01T00:00:60Z", "2026-01-01 00:00:00Z", "2026-01-01T00:00:00",
                            "2026-01-01T00:00:00+00:00", "2026-1-01T00:00:00Z", "2026-01-01T00:00:00Zx"})
        EXPECT_FALSE(ParseUtcTime(bad)) << bad;
}

TEST(DoseAccounting, EraseAtTheReadoutsTimeCountsAndWearersHoldFromExclusiveUntilInclusive) {
    const auto a = AccountReadouts({{100, 5.0}, {200, 1.0}, {300, 2.0}}, {200, 50});
    EXPECT_EQ(a[1].flags, std::vector<std::string>{"after-erase"}); // erase at == readout time
    EXPECT_DOUBLE_EQ(*a[1].increment, 1.0);
    EXPECT_TRUE(a[2].flags.empty()); // the erase lies before the previous readout
    EXPECT_DOUBLE_EQ(*a[2].increment, 1.0);

    const std::vector<Assignment> held{{"A", 100, 200}, {"B", 200, std::nullopt}};
    EXPECT_FALSE(WearerAt(held, 100)); // the read when handed out belongs to nobody
    EXPECT_EQ(WearerAt(held, 200), "A"); // the read when handed back closes A's period
    EXPECT_EQ(WearerAt(held, 201), "B");
    EXPECT_EQ(WearerAt(held, 1'000'000'000), "B");
}

} // namespace
} // namespace dm::records
