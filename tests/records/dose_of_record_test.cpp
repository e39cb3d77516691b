// Wearers and the dose of record, on SQLite and on PostgreSQL: a year of hand-worked
// readouts walked through the store, then the same records through the CLI, its CSV read
// back and its PDF's text.
#include "records_backends.h"

#include "records/corrections.h"
#include "records/dose_alerts.h"
#include "records/dose_of_record.h"
#include "records/utc_time.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include <sys/wait.h>

namespace dm::records {
namespace {

using test::ScratchDatabase;

std::int64_t T(const char* text) { return *ParseUtcTime(text); }

void Read(RecordsRepository& repo, const std::string& serial, const char* at, double total) {
    repo.addReadout({serial, "KRT-17A", T(at), {"station-1", "op"}, total, {{"total_val", std::to_string(total)}}});
}

// Dosimeter A1 (Petrova, then Sidorov) and A2 (Petrova over the turn of the year); C1 worn
// by Kuznetsov five years long. The expected doses are worked out by hand in the comments.
void BuildScenario(RecordsRepository& repo) {
    DoseOfRecord records(repo);
    records.addWearer("W-01", "Petrova, Olga", std::string("1979-04-02"));
    records.addWearer("W-02", "Sidorov \"Sid\"", std::nullopt);
    records.addWearer("W-03", "Kuznetsov", std::nullopt);

    Read(repo, "A1", "2025-12-01T08:00:00Z", 0.0010); // baseline, handed out: nobody's
    records.assign("A1", "W-01", T("2025-12-01T08:00:00Z"));
    Read(repo, "A1", "2025-12-20T08:00:00Z", 0.0030); // +0.0020 W-01, 2025
    Read(repo, "A1", "2026-01-15T00:00:00Z", 0.0045); // +0.0015 W-01
    repo.addErase({"A1", T("2026-01-15T00:10:00Z"), {"station-1", "op"}, 0.0045});
    Read(repo, "A1", "2026-02-15T08:00:00Z", 0.0020); // after-erase +0.0020 W-01
    Read(repo, "A1", "2026-03-15T08:00:00Z", 0.0005); // dropped, no erase: reset +0.0005 W-01
    records.assign("A1", "W-02", T("2026-04-15T08:00:00Z")); // handed over at a read:
    Read(repo, "A1", "2026-04-15T08:00:00Z", 0.0025);        // +0.0020 still W-01's
    Read(repo, "A1", "2026-05-15T08:00:00Z", 0.0040);        // +0.0015 W-02
    Read(repo, "A1", "2026-06-01T08:00:00Z", 0.0041);        // +0.0001 W-02, handed back
    records.unassign("A1", T("2026-06-01T08:00:00Z"));
    Read(repo, "A1", "2026-07-01T08:00:00Z", 0.0050); // +0.0009 nobody's

    records.assign("A2", "W-01", T("2025-11-01T08:00:00Z"));
    Read(repo, "A2", "2025-12-31T23:00:00Z", 0.0100); // baseline
    // A reply without a total dose at the turn of the year: 2026's first increment is still
    // taken from the 0.0100 before it.
    repo.addReadout({"A2", "KRT-17A", T("2025-12-31T23:30:00Z"), {"station-1", "op"}, std::nullopt, {}});
    Read(repo, "A2", "2026-01-02T08:00:00Z", 0.0130); // +0.0030 W-01, 2026

    records.assign("C1", "W-03", T("2021-12-01T00:00:00Z"));
    Read(repo, "C1", "2021-12-02T00:00:00Z", 0.0);
    const char* yearEnds[] = {"2022-12-31T00:00:00Z", "2023-12-31T00:00:00Z", "2024-12-31T00:00:00Z",
                              "2025-12-31T00:00:00Z", "2026-12-31T00:00:00Z"};
    double total = 0.0;
    for (const char* at : yearEnds) // +0.021 a year: 0.105 over 2022-2026
        Read(repo, "C1", at, total += 0.021);
}

class DoseRecord : public ::testing::TestWithParam<std::string> {
protected:
    ScratchDatabase db_{GetParam()};
};

TEST_P(DoseRecord, HandWorkedYearThroughErasesResetsHandOversAndTheTurnOfTheYear) {
    DM_REQUIRE_BACKEND(db_);
    auto repo = RecordsRepository::open(db_.url());
    BuildScenario(*repo);
    DoseOfRecord records(*repo);

    const auto a1 = repo->readouts("A1");
    ASSERT_EQ(a1.size(), 9u);
    EXPECT_EQ(a1[3].accounted.flags, std::vector<std::string>{"after-erase"});
    EXPECT_EQ(a1[4].accounted.flags, std::vector<std::string>{"reset"});
    EXPECT_EQ(a1[5].wearer, std::optional<std::string>("W-01")); // the hand-over read closes W-01's period
    EXPECT_EQ(a1[0].wearer, std::nullopt);
    EXPECT_EQ(a1[8].wearer, std::nullopt);

    AnnualDose petrova = records.annual("W-01", 2026);
    EXPECT_DOUBLE_EQ(petrova.dose, 0.0090);
    EXPECT_DOUBLE_EQ(petrova.fiveYearDose, 0.0110); // + 2025: 0.0020 on A1, none on A2's baseline
    EXPECT_EQ(petrova.exceeded, std::vector<std::string>{"investigation"});
    EXPECT_DOUBLE_EQ(records.annual("W-02", 2026).dose, 0.0016);

    // FROM <= at < TO: the read at 2026-01-15T00:00:00Z is outside.
    const WearerDose window = records.dose("W-01", T("2025-12-20T08:00:00Z"), T("2026-01-15T00:00:00Z"));
    EXPECT_DOUBLE_EQ(window.dose, 0.0050);
    EXPECT_EQ(window.readouts, 4); // A2's baseline counts, with 0, and so does its dose-less reply

    // Five years of 0.021 pass every limit; a year later 2022 has dropped out of the five.
    const AnnualDose kuznetsov = records.annual("W-03", 2026);
    EXPECT_DOUBLE_EQ(kuznetsov.fiveYearDose, 0.105);
    EXPECT_EQ(kuznetsov.exceeded, (std::vector<std::string>{"annual", "five_year", "investigation"}));
    EXPECT_EQ(records.annual("W-03", 2027).exceeded, std::vector<std::string>{});
    EXPECT_DOUBLE_EQ(records.annual("W-03", 2027).fiveYearDose, 0.084);
    // Alerts name what a readout took the dose to or over, once.
    auto alerts = [&](const char* serial, const char* at) {
        std::vector<std::string> names;
        for (const DoseAlert& a : AlertsForReadout(records, *repo, serial, T(at)))
            names.push_back(a.limit);
        return names;
    };
    EXPECT_EQ(alerts("A1", "2026-02-15T08:00:00Z"), std::vector<std::string>{"investigation"}); // 4.5 -> 6.5 mSv
    EXPECT_EQ(alerts("A1", "2026-03-15T08:00:00Z"), std::vector<std::string>{});
    EXPECT_EQ(alerts("C1", "2026-12-31T00:00:00Z"), (std::vector<std::string>{"annual", "five_year", "investigation"}));
    const auto told = AlertsForReadout(records, *repo, "C1", T("2026-12-31T00:00:00Z"));
    EXPECT_EQ(told[0].text, "Kuznetsov (W-03): the year's dose 21.0 mSv reached the annual limit of 20.0 mSv "
                            "(dosimeter C1).");
    EXPECT_EQ(WornByText(records, "KRT-17A", "A2"), "KRT-17A A2, worn by Petrova, Olga (W-01)");
    EXPECT_EQ(WornByText(records, "KRT-17A", "A1"), "KRT-17A A1");
    EXPECT_EQ(AlertsForReadout(records, *repo, "C1", T("2026-12-31T00:00:00Z"), Language::Russian)[2].text,
              "Kuznetsov (W-03): доза за год 21.0 мЗв достигла контрольного уровня 6.0 мЗв (дозиметр C1).");
    EXPECT_EQ(WornByText(records, "KRT-17A", "A2", Language::Russian), "КРТ-17А A2, носитель: Petrova, Olga (W-01)");

    // A dose exactly at a limit has reached it, whatever the sum's binary noise.
    records.setLimits({0.021, std::nullopt, std::nullopt, std::nullopt});
    EXPECT_EQ(records.annual("W-03", 2024).exceeded, (std::vector<std::string>{"annual", "investigation"}));

    const auto doses = records.doseTable(std::nullopt);
    ASSERT_EQ(doses.size(), 9u); // W-01 2025, 2026; W-02 2026; W-03 2021 (its baseline), 2022-2026
    EXPECT_EQ(doses[0].wearer, "W-01");
    EXPECT_EQ(doses[0].year, 2025);
    EXPECT_DOUBLE_EQ(doses[0].dose, 0.0020);
    EXPECT_EQ(doses[3].year, 2021);
    const auto year = records.dosesByWearer(YearStart(2026), YearStart(2027));
    EXPECT_DOUBLE_EQ(year.at("W-01"), 0.0090);
    EXPECT_DOUBLE_EQ(year.at("W-03"), 0.021);

    // Tiny levels read as numbers, never "< 0.01 mkSv reached < 0.01 mkSv".
    records.setLimits({std::nullopt, std::nullopt, std::nullopt, 2e-9});
    repo->addReadout({"T1", "MLV-52B", T("2026-12-30T08:00:00Z"), {"station-1", "op"}, 0.0, {}});
    records.addWearer("W-04", "Orlova", std::nullopt);
    records.assign("T1", "W-04", T("2026-12-30T08:00:00Z"));
    repo->addReadout({"T1", "MLV-52B", T("2026-12-30T09:00:00Z"), {"station-1", "op"}, 2.7e-9, {}});
    const auto tiny = AlertsForReadout(records, *repo, "T1", T("2026-12-30T09:00:00Z"));
    ASSERT_EQ(tiny.size(), 1u);
    EXPECT_EQ(tiny[0].text, "Orlova (W-04): the year's dose 0.0027 mkSv reached the investigation level of "
                            "0.0020 mkSv (dosimeter T1).");
}

TEST_P(DoseRecord, RequestsTheRecordsContradictAreRefusedAndChangeNothing) {
    DM_REQUIRE_BACKEND(db_);
    auto repo = RecordsRepository::open(db_.url());
    DoseOfRecord records(*repo);
    records.addWearer("W-01", "Petrova", std::nullopt);
    records.assign("A1", "W-01", T("2026-03-01T08:00:00Z"));
    auto refused = [](auto&& fn) {
        try {
            fn();
        } catch (const RecordsError& e) {
            return e.kind() == RecordsError::Kind::Refused;
        }
        return false;
    };
    EXPECT_TRUE(refused([&] { records.addWearer("W-01", "Someone else", std::nullopt); }));
    EXPECT_TRUE(refused([&] { records.assign("A1", "W-99", T("2026-04-01T08:00:00Z")); }));
    // Who wore it before is never rewritten: hand-outs go forward in time only.
    EXPECT_TRUE(refused([&] { records.assign("A1", "W-01", T("2026-02-01T08:00:00Z")); }));
    EXPECT_TRUE(refused([&] { records.unassign("A1", T("2026-02-01T08:00:00Z")); }));
    EXPECT_TRUE(refused([&] { records.unassign("B7", T("2026-04-01T08:00:00Z")); }));
    EXPECT_TRUE(refused([&] { records.setLimits({-1.0, std::nullopt, std::nullopt, std::nullopt}); }));
    EXPECT_TRUE(refused([&] { records.dose("W-99", 0, 1); }));

    const auto wearers = records.wearers();
    ASSERT_EQ(wearers.size(), 1u);
    EXPECT_EQ(wearers[0].name, "Petrova");
    EXPECT_EQ(wearers[0].dosimeters, std::vector<std::string>{"A1"});
    EXPECT_DOUBLE_EQ(records.limits().annual, 0.020);
    records.unassign("A1", T("2026-04-01T08:00:00Z"));
    EXPECT_TRUE(refused([&] { records.unassign("A1", T("2026-05-01T08:00:00Z")); }));
    EXPECT_EQ(records.currentWearer("A1"), std::nullopt);
}

TEST_P(DoseRecord, StationsHandingOutOneDosimeterAtOnceLeaveOneWearerAtATime) {
    DM_REQUIRE_BACKEND(db_);
    {
        auto repo = RecordsRepository::open(db_.url());
        DoseOfRecord records(*repo);
        for (int i = 0; i < 8; ++i)
            records.addWearer("W-" + std::to_string(i), "Wearer", std::nullopt);
    }
    std::vector<std::thread> stations;
    for (int i = 0; i < 8; ++i)
        stations.emplace_back([&, i] {
            auto repo = RecordsRepository::open(db_.url());
            DoseOfRecord records(*repo);
            for (int k = 0; k < 5; ++k) {
                try { // a later hand-out that got in first refuses an earlier one
                    records.assign("A1", "W-" + std::to_string(i), T("2026-01-01T00:00:00Z") + 10 * k + i);
                } catch (const RecordsError& e) {
                    EXPECT_EQ(e.kind(), RecordsError::Kind::Refused) << e.what();
                }
            }
        });
    for (std::thread& t : stations)
        t.join();
    QSqlDatabase db = QSqlDatabase::addDatabase(db_.postgres() ? "QPSQL" : "QSQLITE", "check-assignments");
    {
        const DatabaseUrl& u = db_.url();
        db.setDatabaseName(QString::fromStdString(db_.postgres() ? u.databaseName : u.path));
        db.setHostName(QString::fromStdString(u.socketDir.empty() ? u.host : u.socketDir));
        db.setPort(u.port);
        db.setUserName(QString::fromStdString(u.user));
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec("SELECT from_at, until_at FROM assignments ORDER BY from_at"));
        int open = 0;
        std::optional<std::int64_t> previousUntil;
        std::int64_t rows = 0;
        while (q.next()) {
            ++rows;
            if (previousUntil) {
                EXPECT_LE(*previousUntil, q.value(0).toLongLong()) << "overlapping assignments";
            }
            if (q.value(1).isNull())
                ++open;
            previousUntil = q.value(1).isNull() ? std::optional<std::int64_t>() : q.value(1).toLongLong();
        }
        EXPECT_EQ(open, 1);
        EXPECT_GE(rows, 5);
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("check-assignments");
}

INSTANTIATE_TEST_SUITE_P(Backends, DoseRecord, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

// ---- the same records through the CLI ----

const std::string kCli = std::string(DM_BIN_DIR) + "/dosimeter-cli";

std::pair<int, std::string> RunCli(const std::string& args) {
    FILE* pipe = popen((kCli + " " + args + " 2>&1").c_str(), "r");
    std::string out;
    char buf[4096];
    for (std::size_t n; pipe && (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        out.append(buf, n);
    const int status = pipe ? pclose(pipe) : -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

// RFC 4180: quoted fields may hold commas, doubled quotes and line ends; rows end in CR LF.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        std::string& field = rows.back().back();
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
                field += text[++i];
            else if (c == '"')
                quoted = false;
            else
                field += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().emplace_back();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
            rows.emplace_back(1);
        } else {
            field += c;
        }
    }
    if (rows.back().size() == 1 && rows.back()[0].empty())
        rows.pop_back();
    return rows;
}

std::string Slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST_P(DoseRecord, CliPrintsExportsAndReportsTheSameDoses) {
    DM_REQUIRE_BACKEND(db_);
    {
        auto repo = RecordsRepository::open(db_.url());
        BuildScenario(*repo);
    }
    const std::string db = "records --db '" + db_.urlText() + "' ";
    const auto dir = std::filesystem::temp_directory_path() / ("dm-dose-cli-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);

    EXPECT_EQ(RunCli(db + "annual --wearer W-01 --year 2026 --json").second,
              "{\"wearer\": \"W-01\", \"year\": 2026, \"dose\": 0.009, \"five_year_dose\": 0.011, \"limits\": "
              "{\"annual\": 0.02, \"single_year\": 0.05, \"five_year\": 0.1, \"investigation\": 0.006}, "
              "\"exceeded\": [\"investigation\"]}\n");
    EXPECT_EQ(RunCli(db + "dose --wearer W-02 --from 2026-01-01T00:00:00Z --to 2027-01-01T00:00:00Z --json").second,
              "{\"wearer\": \"W-02\", \"from\": \"2026-01-01T00:00:00Z\", \"to\": \"2027-01-01T00:00:00Z\", "
              "\"dose\": 0.0016, \"readouts\": 2}\n");

    ASSERT_EQ(RunCli(db + "export --table doses --year 2026 --csv " + (dir / "doses.csv").string()).first, 0);
    EXPECT_EQ(ParseCsv(Slurp(dir / "doses.csv")),
              (std::vector<std::vector<std::string>>{
                  {"wearer", "year", "dose"}, {"W-01", "2026", "0.009"}, {"W-02", "2026", "0.0016"},
                  {"W-03", "2026", "0.021"}}));
    ASSERT_EQ(RunCli(db + "export --table wearers --csv " + (dir / "wearers.csv").string()).first, 0);
    const auto wearers = ParseCsv(Slurp(dir / "wearers.csv"));
    ASSERT_EQ(wearers.size(), 4u);
    EXPECT_EQ(wearers[1], (std::vector<std::string>{"W-01", "Petrova, Olga", "1979-04-02", "A2"}));
    EXPECT_EQ(wearers[2], (std::vector<std::string>{"W-02", "Sidorov \"Sid\"", "", ""}));
    ASSERT_EQ(RunCli(db + "export --table readouts --csv " + (dir / "readouts.csv").string()).first, 0);
    const auto readouts = ParseCsv(Slurp(dir / "readouts.csv"));
    ASSERT_EQ(readouts.size(), 1u + 9 + 3 + 6);
    EXPECT_EQ(readouts[0][0], "serial");
    EXPECT_EQ(readouts[4][7], "after-erase");
    EXPECT_EQ(readouts[6][8], "W-01");

    // A failed export leaves nothing behind and says where.
    const auto bad = RunCli(db + "export --table doses --csv " + (dir / "no" / "such" / "f.csv").string());
    EXPECT_EQ(bad.first, 1);
    EXPECT_NE(bad.second.find("dosimeter-cli: records export: --csv"), std::string::npos) << bad.second;

    for (const std::string& args :
         {std::string("wearer-add --id W-01 --name Again"), std::string("unassign --serial A1 --at 2026-08-01T00:00:00Z"),
          std::string("dose --wearer W-99 --from 2026-01-01T00:00:00Z --to 2027-01-01T00:00:00Z"),
          std::string("dose --wearer W-01 --from 2026-01-01 --to 2027-01-01T00:00:00Z"),
          std::string("annual --wearer W-01 --year 26"), std::string("limits --annual -0.02"),
          std::string("export --table people --csv x.csv"), std::string("export --table wearers --year 2026 --csv x.csv"),
          std::string("report --wearer W-99 --year 2026 --pdf x.pdf")}) {
        const auto run = RunCli(db + args);
        EXPECT_EQ(run.first, 2) << args << ": " << run.second;
        EXPECT_EQ(run.second.rfind("dosimeter-cli: ", 0), 0u) << args << ": " << run.second;
    }
    EXPECT_EQ(RunCli(db + "limits --json").second,
              "{\"annual\": 0.02, \"single_year\": 0.05, \"five_year\": 0.1, \"investigation\": 0.006}\n");

    if (std::system("pdftotext -v >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    // A correction of a listed readout is shown with who, when and why (here to the same
    // value, so the doses below stay as read).
    {
        auto repo = RecordsRepository::open(db_.url());
        const ReadoutView last = repo->readouts("C1").back();
        CorrectReadout(*repo, {last.id, *last.totalDose, "badge re-read <by hand>", "Ivanova", T("2027-01-05T10:00:00Z")});
    }
    const auto pdf = dir / "W-03.pdf";
    ASSERT_EQ(RunCli(db + "report --wearer W-03 --year 2026 --pdf " + pdf.string()).first, 0);
    std::FILE* text = popen(("pdftotext -layout " + pdf.string() + " -").c_str(), "r");
    std::string pages;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, text)) > 0;)
        pages.append(buf, n);
    pclose(text);
    for (const char* expected : {"Kuznetsov", "W-03", "2026", "C1", "2026-12-31 00:00:00", "21.000",
                                 "105.000", "reached or passed the annual limit of 20.000 mSv",
                                 "reached or passed the five-year limit of 100.000 mSv", "corrected",
                                 "re-read <by hand>"})
        EXPECT_NE(pages.find(expected), std::string::npos) << expected << " not in:\n" << pages;
    EXPECT_EQ(pages.find("2025-12-31"), std::string::npos) << "a readout of another year";
    if (!db_.postgres()) { // a shared database records its login and its own time instead
        EXPECT_NE(pages.find("Ivanova"), std::string::npos) << pages;
        EXPECT_NE(pages.find("Corrected 2027-01-05 10:00:00 UTC"), std::string::npos) << pages;
    }
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace dm::records
