// The dose record an officer signs, through the CLI on SQLite and PostgreSQL: a year that
// fills several pages, read back page by page as text in both languages under a Russian
// locale; the site setting; and the exports and the report on a full disk.
#include "records_backends.h"
#include "../shell_run.h"

#include "records/corrections.h"
#include "records/dose_of_record.h"
#include "records/dose_report.h"
#include "records/utc_time.h"

#include <clocale>
#include <cmath>
#include <fstream>
#include <set>
#include <sstream>

#include <sys/mount.h>
#include <sys/stat.h>

namespace dm::records {
namespace {

namespace fs = std::filesystem;

const std::string kCli = std::string(DM_BIN_DIR) + "/dosimeter-cli";

std::int64_t T(const char* text) { return *ParseUtcTime(text); }

void Read(RecordsRepository& repo, const char* at, double total) {
    repo.addReadout({"A7", "KRT-17A", T(at), {"station-1", "op"}, total, {}});
}

std::string Slurp(const fs::path& p) {
    std::stringstream s;
    s << std::ifstream(p, std::ios::binary).rdbuf();
    return s.str();
}

std::vector<std::string> PdfPages(const fs::path& pdf) {
    std::vector<std::string> pages(1);
    for (char c : RunShell("pdftotext -layout '" + pdf.string() + "' -").out)
        if (c == '\f')
            pages.emplace_back();
        else
            pages.back().push_back(c);
    if (pages.back().find_first_not_of(" \n") == std::string::npos)
        pages.pop_back();
    return pages;
}

bool HasRussianLocale() {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    const bool has = std::setlocale(LC_ALL, "ru_RU.UTF-8") != nullptr;
    std::setlocale(LC_ALL, before.c_str());
    return has;
}

TEST(DoseReportNumbers, NoDoseReadsAsZeroAndEveryColumnIsInMilliSieverts) {
    EXPECT_EQ(MilliSievertText(0.0), "0.000");
    EXPECT_EQ(MilliSievertText(0.0211), "21.100");
    EXPECT_EQ(MilliSievertText(5e-7), "0.001"); // 0.0005 mSv rounds up, never down to 0
    EXPECT_EQ(MilliSievertText(4.9e-7), "0.00049");
    EXPECT_EQ(MilliSievertText(3e-9), "0.000003");
    EXPECT_EQ(MilliSievertText(1e-15), "0.000000000001");
    EXPECT_EQ(MilliSievertText(-0.00037), "-0.370");
    EXPECT_EQ(MilliSievertText(2e7), "2.000E+10");
    EXPECT_EQ(MilliSievertText(std::nan("")), "\xE2\x80\x94");
}

class DoseReport : public ::testing::TestWithParam<std::string> {
protected:
    test::ScratchDatabase db_{GetParam()};
};

// Handed out before the year, read, erased, read below the display floor, 120 reads later
// handed back; one readout corrected. Its year: 0.0036 (corrected 0.0046 over the 0.0010
// baseline) + 3e-9 after the erase + 119 x 1e-5 = 4.790003 mSv.
TEST_P(DoseReport, EveryPageNamesTheWearerAndEveryValueEventAndCorrectionAppearsInEitherLanguage) {
    DM_REQUIRE_BACKEND(db_);
    if (RunShell("pdftotext -v 2>/dev/null").exitCode != 0)
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    {
        auto repo = RecordsRepository::open(db_.url());
        DoseOfRecord records(*repo);
        records.addWearer("W-07", "Орлова, Анна", std::string("1985-02-11"));
        Read(*repo, "2025-12-01T08:00:00Z", 0.0010);
        records.assign("A7", "W-07", T("2025-12-01T08:00:00Z"));
        Read(*repo, "2026-01-10T08:00:00Z", 0.0045);
        repo->addErase({"A7", T("2026-01-10T08:10:00Z"), {"station-1", "op"}, 0.0045});
        Read(*repo, "2026-01-20T08:00:00Z", 3e-9);
        for (int i = 0; i < 120; ++i)
            Read(*repo, FormatUtcTime(T("2026-02-01T08:00:00Z") + i * 2 * 86400).c_str(), 3e-9 + i * 1e-5);
        records.unassign("A7", T("2026-09-29T08:00:00Z"));
        CorrectReadout(*repo, {repo->readouts("A7")[1].id, 0.0046, "re-read <x>", "Ivanova",
                               T("2026-01-11T09:00:00Z")});
    }
    const std::string cli = kCli + " records --db '" + db_.urlText() + "' ";
    EXPECT_EQ(RunShell(cli + "site 2>&1").out, "-\n");
    EXPECT_EQ(RunShell(cli + "site --name 'Site «North» & <Co>'").exitCode, 0);
    EXPECT_EQ(RunShell(cli + "site --json").out, "{\"name\": \"Site «North» & <Co>\"}\n");
    for (const char* bad : {"''", "'two\nlines'"})
        EXPECT_EQ(RunShell(cli + "site --name " + bad + " 2>/dev/null").exitCode, 2) << bad;

    // Under a Russian locale, as the window runs: a strtod there read "0.0045" as 0.
    const std::string locale = HasRussianLocale() ? "LC_ALL=ru_RU.UTF-8 " : "";
    if (locale.empty())
        ADD_FAILURE() << "no ru_RU.UTF-8 locale: run scripts/install-deps.sh";
    const fs::path dir = fs::temp_directory_path() / ("dm-dose-report-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    struct Words {
        const char *lang, *columns, *page, *handedOut, *erased, *handedBack, *officer;
    };
    for (const Words& w :
         {Words{"en", "Increment,", "Page %1 of %2", "Handed out", "Total dose erased", "Handed back",
                "Radiation protection officer"},
          Words{"ru", "Прирост,", "Страница %1 из %2", "Выдан носителю", "Полная доза обнулена", "Возвращён",
                "Ответственный за радиационную безопасность"}}) {
        SCOPED_TRACE(w.lang);
        const fs::path pdf = dir / (std::string(w.lang) + ".pdf");
        ASSERT_EQ(RunShell(locale + cli + "report --wearer W-07 --year 2026 --lang " + w.lang + " --pdf '" +
                           pdf.string() + "'")
                      .exitCode,
                  0);
        struct stat st {};
        ASSERT_EQ(::stat(pdf.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        const std::vector<std::string> pages = PdfPages(pdf);
        ASSERT_GE(pages.size(), 3u);
        for (std::size_t p = 0; p < pages.size(); ++p) {
            std::string number = w.page;
            number.replace(number.find("%1"), 2, std::to_string(p + 1));
            number.replace(number.find("%2"), 2, std::to_string(pages.size()));
            for (const std::string& expected : {std::string("Site «North» & <Co>"), std::string("Орлова, Анна (ID W-07)"),
                                                std::string(w.columns), number})
                EXPECT_NE(pages[p].find(expected), std::string::npos) << expected << " not on page " << p + 1;
        }
        std::string all;
        for (const std::string& page : pages)
            all += page;
        // In time order: the hand-out before the year, the corrected readout and its note,
        // the erase, the reading under the display floor, ..., the hand-back.
        std::size_t at = 0;
        for (const char* expected : {w.handedOut, "2026-01-10 08:00:00", "4.600", "4.500 \xE2\x86\x92 4.600",
                                     "re-read <x>", w.erased, "2026-01-20 08:00:00", "0.000003",
                                     "2026-09-29 08:00:00", w.handedBack, "4.790", w.officer}) {
            const std::size_t found = all.find(expected, at);
            EXPECT_NE(found, std::string::npos) << expected << " not after offset " << at << " in:\n" << all;
            at = found == std::string::npos ? at : found;
        }
        EXPECT_EQ(all.find("0,"), std::string::npos) << "a number written under the locale";
        if (!db_.postgres()) { // a shared database records the login that corrected it
            EXPECT_NE(all.find("Ivanova"), std::string::npos);
        }
    }
    EXPECT_EQ(RunShell(locale + cli + "limits --annual 150.5 2>&1").out.substr(0, 16), "annual\t150.5 Sv\n");
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Backends, DoseReport, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

// The exports hold names and doses: on a full disk the command fails with the reason and
// the old file stays byte for byte, with no stray file beside it. Mounting needs root.
TEST(DoseReportFiles, AFullDiskFailsTheExportAndTheReportAndKeepsTheOldFiles) {
    test::ScratchDatabase db("sqlite");
    const fs::path full = fs::temp_directory_path() / ("dm-report-full-" + std::to_string(::getpid()));
    fs::create_directories(full);
    if (::geteuid() != 0 || ::mount("tmpfs", full.c_str(), "tmpfs", 0, "size=64k") != 0) {
        fs::remove_all(full);
        GTEST_SKIP() << "no small tmpfs can be mounted (needs root)";
    }
    DoseOfRecord(*RecordsRepository::open(db.url())).addWearer("W-01", "Petrova", std::nullopt);
    std::ofstream(full / "old.csv") << "old csv";
    std::ofstream(full / "old.pdf") << "old pdf";
    RunShell("dd if=/dev/zero of='" + (full / "filler").string() + "' bs=4k 2>/dev/null");
    const std::string cli = kCli + " records --db '" + db.urlText() + "' ";
    for (const std::string& command :
         {"export --table wearers --csv '" + (full / "old.csv").string() + "'",
          "report --wearer W-01 --year 2026 --pdf '" + (full / "old.pdf").string() + "'",
          "export --table wearers --csv '" + (full / "new.csv").string() + "'"}) {
        const ShellRun run = RunShell(cli + command + " 2>&1");
        EXPECT_EQ(run.exitCode, 1) << command;
        EXPECT_NE(run.out.find("No space left on device"), std::string::npos) << run.out;
    }
    const std::string csv = Slurp(full / "old.csv"), pdf = Slurp(full / "old.pdf");
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(full))
        names.insert(e.path().filename().string());
    ::umount2(full.c_str(), MNT_DETACH);
    fs::remove_all(full);
    EXPECT_EQ(csv, "old csv");
    EXPECT_EQ(pdf, "old pdf");
    EXPECT_EQ(names, (std::set<std::string>{"filler", "old.csv", "old.pdf"}));
}

} // namespace
} // namespace dm::records
