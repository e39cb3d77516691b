#include "history/dose_archive.h"
#include "history/history_table.h"

#include "core/reply_text.h"
#include "core/string_table.h"
#include "core/text_file.h"

#include <gtest/gtest.h>

#include <limits>

#include <string>
#include <vector>

namespace dm {
namespace {

// A sample reply as the pickup hands it over: read whole, LF to CR LF, Windows-1251 to UTF-8.
std::string Reply(const std::string& name) {
    auto bytes = TryReadFile(std::string(DM_TEST_DATA) + "/" + name);
    EXPECT_TRUE(bytes.has_value()) << name;
    return ReplyTextFromBytes(bytes.value_or(""));
}

std::vector<std::string> Row(const HistoryTable& t, int row) {
    std::vector<std::string> cells;
    for (int c = 0; c < t.colCount(); ++c)
        cells.push_back(t.text(row, c));
    return cells;
}

std::vector<int> Widths(const HistoryTable& t) {
    std::vector<int> w;
    for (int c = 0; c < t.colCount(); ++c)
        w.push_back(t.colWidth(c));
    return w;
}

using Cells = std::vector<std::string>;

// An archive and the two tables over it, as the window holds them.
struct Tables {
    DoseArchive archive;
    HistoryTable dose{archive, HistoryTab::Dose, Language::English};
    HistoryTable neutron{archive, HistoryTab::Neutron, Language::English};
    Tables() = default;
    Tables(const Tables&) = delete;
    const DoseArchive& parse(std::string_view text, double interval = 1.0, Language lang = Language::English) {
        archive = ParseDoseArchive(std::string(text), interval);
        dose.setLanguage(lang);
        neutron.setLanguage(lang);
        return archive;
    }
};

TEST(ArchiveLayoutA, FillsBothTablesFromAKrt17aReply) {
    Tables t;
    const DoseArchive& a = t.parse(Reply("archive-krt17a.txt"), 60.0);
    EXPECT_EQ(a.model(), Model::Krt17a);
    EXPECT_EQ(a.layout(), ArchiveLayout::A);
    EXPECT_EQ(HistoryTabLabels(a, Language::English), (Cells{"Dose history", "Neutron dose history"}));

    // The records: typed values beside the texts as received.
    ASSERT_EQ(a.gamma().size(), 5u);
    EXPECT_EQ(a.gamma()[3].seconds, 240);
    EXPECT_DOUBLE_EQ(a.gamma()[3].sv, 4.25e-5);
    EXPECT_EQ(a.text(a.gamma()[3].doseText), "4.25E-05");
    ASSERT_EQ(a.neutron().size(), 3u);
    const NeutronDoseRecord& last = a.neutron()[2];
    EXPECT_EQ(last.seconds, 90061);
    EXPECT_DOUBLE_EQ(last.sv, 5.5e-7);
    EXPECT_DOUBLE_EQ(last.coefficient, 0.98);
    EXPECT_EQ(a.text(last.coefficientText), "0.98");
    EXPECT_EQ(a.text(last.timeText), "90061");
    t.parse(Reply("archive-krt17a.txt"));

    ASSERT_EQ(t.dose.rowCount(), 6);
    EXPECT_EQ(Widths(t.dose), (std::vector<int>{400, 0, 3000, 1000}));
    EXPECT_EQ(Row(t.dose, 0), (Cells{"#", "", "Dose value", "Time"}));
    // The first gamma line loses its leading character, every line the one before its CR.
    EXPECT_EQ(Row(t.dose, 1), (Cells{"1", "1.5E-06", "1.5 mkSv", "00:00:01"}));
    EXPECT_EQ(Row(t.dose, 2), (Cells{"2", "2.0E-06", "2.0 mkSv", "00:00:02"}));
    EXPECT_EQ(Row(t.dose, 4), (Cells{"4", "4.25E-05", "42.5 mkSv", "00:00:04"}));
    EXPECT_EQ(Row(t.dose, 5), (Cells{"5", "1.2E-03", "1.2 mSv", "00:00:05"}));

    // The final CR LF adds no record.
    ASSERT_EQ(t.neutron.rowCount(), 4);
    EXPECT_EQ(Widths(t.neutron), (std::vector<int>{520, 0, 2700, 2200, 0, 1000}));
    EXPECT_EQ(Row(t.neutron, 0),
              (Cells{"#", "", "Neutron dose value", "Spectrum estimation coeff.", "", "Time"}));
    EXPECT_EQ(Row(t.neutron, 1), (Cells{"1", "3.2E-07", "0.32 mkSv", "1.25", "3600", "01:00:00"}));
    EXPECT_EQ(Row(t.neutron, 3), (Cells{"3", "5.5E-07", "0.55 mkSv", "0.98", "90061", "25:01:01"}));
}

TEST(ArchiveLayoutA, GammaTimesFollowTheHistoryInterval) {
    Tables t;
    const std::string text = Reply("archive-krt17a.txt");
    t.parse(text, 60.0);
    EXPECT_EQ(t.dose.text(3, 3), "00:03:00");
    t.parse(text, 0.5); // truncated toward zero
    EXPECT_EQ(t.dose.text(3, 3), "00:00:01");
    t.parse(text, 1.0);
    EXPECT_EQ(t.dose.text(3, 3), "00:00:03");
    // Neutron times come from the reply, not from the interval.
    EXPECT_EQ(t.neutron.text(2, 5), "02:00:00");
    EXPECT_EQ(GammaRecordSeconds(3, std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(GammaRecordSeconds(2, 1e300), std::numeric_limits<long long>::max());
}

TEST(ArchiveLayoutA, ResultLineEndsTheGammaRecords) {
    Tables t;
    t.parse(Reply("archive-krt17a-result.txt"));
    ASSERT_EQ(t.dose.rowCount(), 3);
    EXPECT_EQ(t.dose.text(2, 1), "2.0E-06");
    EXPECT_EQ(t.dose.text(3, 1), "");
    ASSERT_EQ(t.neutron.rowCount(), 2);
    EXPECT_EQ(t.neutron.text(1, 1), "1.1E-07");
}

TEST(ArchiveLayoutA, TabInFirstLineMeansNoHeadingAndNoGamma) {
    Tables t;
    EXPECT_EQ(t.parse(Reply("archive-neutron-only.txt")).layout(), ArchiveLayout::A);
    EXPECT_EQ(t.dose.rowCount(), 1);
    EXPECT_EQ(Row(t.dose, 0), (Cells{"#", "", "Dose value", "Time"}));
    ASSERT_EQ(t.neutron.rowCount(), 3);
    EXPECT_EQ(Row(t.neutron, 1), (Cells{"1", "1.1E-07", "0.11 mkSv", "1.05", "60", "00:01:00"}));
    EXPECT_EQ(Row(t.neutron, 2), (Cells{"2", "2.2E-07", "0.22 mkSv", "1.10", "120", "00:02:00"}));
}

TEST(ArchiveLayoutA, RaggedNeutronLinesAreSkippedAndALastLineWithoutEndIsRead) {
    Tables t;
    t.parse(Reply("archive-krt17a-ragged.txt"));
    EXPECT_EQ(t.dose.rowCount(), 2);
    ASSERT_EQ(t.neutron.rowCount(), 3); // the one-TAB line and the empty line are no records
    EXPECT_EQ(Row(t.neutron, 1), (Cells{"1", "3.2E-07", "0.32 mkSv", "1.25", "3600", "01:00:00"}));
    EXPECT_EQ(Row(t.neutron, 2), (Cells{"2", "4.0E-07", "0.4 mkSv", "1.30", "7200", "02:00:00"}));
}

TEST(ArchiveLayoutA, DroppedCharactersAreWholeCharactersNotBytes) {
    Tables t;
    t.parse("Заголовок\r\nЖ1.5E-06Ё\r\n2.0E-06Ё\r\n3.2E-07\tк\tЖ3600Ж\r\n");
    EXPECT_EQ(t.dose.text(1, 1), "1.5E-06");
    EXPECT_EQ(t.dose.text(2, 1), "2.0E-06");
    EXPECT_EQ(Row(t.neutron, 1), (Cells{"1", "3.2E-07", "0.32 mkSv", "к", "3600", "01:00:00"}));
}

TEST(ArchiveLayoutA, UnreadableValuesShowAsZeroAndEmptyTailRowsGo) {
    Tables t;
    // Gamma: a value twice, a non-number, then two lines too short to hold a dose.
    t.parse("h\r\n 1.0E-06\r\r\n1.0E-06\r\r\nabc\r\r\n\r\r\n\r\r\n"
            "x\tc\tnope\r\r\nx\t\t 1\r\r\n2.5E-07\t\t 1\r\r\n");
    ASSERT_EQ(t.dose.rowCount(), 4);
    EXPECT_EQ(Row(t.dose, 2), (Cells{"2", "1.0E-06", "1.0 mkSv", "00:00:02"}));
    EXPECT_EQ(Row(t.dose, 3), (Cells{"3", "abc", "0", "00:00:03"}));
    EXPECT_EQ(Row(t.neutron, 1), (Cells{"1", "x", "0", "c", "ope", "00:00:00"}));
    EXPECT_EQ(Row(t.neutron, 2), (Cells{"2", "x", "0", "", "1", "00:00:01"}));
    EXPECT_EQ(Row(t.neutron, 3), (Cells{"3", "2.5E-07", "0.25 mkSv", "", "1", "00:00:01"}));
}

TEST(ArchiveLayoutA, EveryTruncationOfAReplyStaysInsideTheTables) {
    // The scans must end at the end of the text wherever it is cut.
    for (const char* name : {"archive-krt17a.txt", "archive-krt17a-result.txt",
                             "archive-krt17a-ragged.txt", "archive-mlv52b.txt"}) {
        const std::string text = Reply(name);
        for (std::size_t n = 0; n <= text.size(); ++n) {
            Tables t;
            t.parse(std::string_view(text).substr(0, n));
            ASSERT_GE(t.dose.rowCount(), 1) << name << " cut at " << n;
            for (int row = 1; row < t.dose.rowCount(); ++row)
                ASSERT_EQ(t.dose.text(row, 0), std::to_string(row)) << name << " cut at " << n;
            for (int row = 1; row < t.neutron.rowCount(); ++row)
                ASSERT_EQ(t.neutron.text(row, 0), std::to_string(row)) << name << " cut at " << n;
        }
    }
}

TEST(ArchiveLayoutB, ShowsTheValuesAsWrittenWithoutTimes) {
    Tables t;
    const DoseArchive& a = t.parse(Reply("archive-mlv52b.txt"), 60.0);
    EXPECT_EQ(a.model(), Model::Mlv52b);
    EXPECT_EQ(a.layout(), ArchiveLayout::B);
    EXPECT_EQ(HistoryTabLabels(a, Language::English), (Cells{"Dose history"}));
    ASSERT_EQ(a.gamma().size(), 3u);
    EXPECT_DOUBLE_EQ(a.gamma()[2].sv, 3.0e-4);
    EXPECT_EQ(a.gamma()[2].seconds, 180); // not shown, but the records keep the interval
    ASSERT_EQ(t.dose.rowCount(), 4);
    EXPECT_EQ(Widths(t.dose), (std::vector<int>{520, 2500}));
    EXPECT_EQ(Row(t.dose, 0), (Cells{"#", "Dose value"}));
    EXPECT_EQ(Row(t.dose, 1), (Cells{"1", "1.5E-06"}));
    EXPECT_EQ(Row(t.dose, 3), (Cells{"3", "3.0E-04"}));
    // No neutron section: no neutron table.
    EXPECT_EQ(t.neutron.rowCount(), 0);
    EXPECT_EQ(t.neutron.colCount(), 0);
}

TEST(ArchiveLayoutB, LineCountsAtTheEdges) {
    Tables t;
    t.parse("a\r\r\nb\r\r\nc\r\r\nd\r\r\n"); // exactly four lines
    EXPECT_EQ(t.dose.rowCount(), 1);
    t.parse("a\r\r\nb\r\r\nc\r\r\nd\r\r\n1.0E-06\r\r\n2.0E-06\r\r\n"); // six
    ASSERT_EQ(t.dose.rowCount(), 3);
    EXPECT_EQ(Row(t.dose, 2), (Cells{"2", "2.0E-06"}));
    t.parse("a\r\r\nb\r\r\nc\r\r\nd\r\r\n1.0E-06\r\r\n2.0E-06"); // last line without a line end
    ASSERT_EQ(t.dose.rowCount(), 3);
    EXPECT_EQ(t.dose.text(2, 1), "2.0E-06");
    t.parse("a\r\r\nb\r\r\nc\r\r\nd"); // four lines, the last unended
    EXPECT_EQ(t.dose.rowCount(), 1);
    for (const std::string& text : {std::string(), Reply("archive-mlv52b-short.txt")}) {
        t.parse(text);
        EXPECT_EQ(t.dose.rowCount(), 1);
        EXPECT_EQ(Row(t.dose, 0), (Cells{"#", "Dose value"}));
    }
}

TEST(ArchiveParse, ANewReplyReplacesTheLastOneWhateverItsLayout) {
    Tables t;
    t.parse(Reply("archive-krt17a.txt"));
    t.parse(Reply("archive-mlv52b.txt"));
    EXPECT_EQ(t.dose.colCount(), 2);
    EXPECT_EQ(Row(t.dose, 1), (Cells{"1", "1.5E-06"}));
    EXPECT_TRUE(t.archive.neutron().empty()); // nothing left from the layout A reply
    t.parse(Reply("archive-krt17a-result.txt"));
    ASSERT_EQ(t.dose.colCount(), 4);
    EXPECT_EQ(Row(t.dose, 1), (Cells{"1", "1.0E-06", "1.0 mkSv", "00:00:01"}));
    EXPECT_EQ(t.neutron.rowCount(), 2);
}

TEST(ArchiveParse, HeadingsAndUnitsFollowTheLanguageWithoutAnotherParse) {
    Tables t;
    const DoseArchive& a = t.parse(Reply("archive-krt17a.txt"), 1.0, Language::Russian);
    EXPECT_EQ(HistoryTabLabels(a, Language::Russian), (Cells{Tr(IDS_DOSE_HISTORY_A, Language::Russian),
                                                        Tr(IDS_NEUTRON_HISTORY, Language::Russian)}));
    EXPECT_EQ(t.dose.text(0, 0), "№");
    EXPECT_EQ(t.neutron.text(1, 2), "0.32 мкЗв");
    EXPECT_EQ(t.neutron.text(0, 3), Tr(IDS_SPECTRUM_COEFF, Language::Russian));
    t.neutron.setLanguage(Language::English);
    EXPECT_EQ(t.neutron.text(1, 2), "0.32 mkSv");
    EXPECT_EQ(t.neutron.text(1, 1), "3.2E-07"); // as received, in every language
    // Before any archive: no rows and no columns.
    const HistoryTable none;
    EXPECT_EQ(none.rowCount(), 0);
    EXPECT_EQ(none.text(0, 0), "");
}

TEST(ArchiveParse, ALongReplyWithoutTabsAfterTheFirstNeutronLineIsReadInOnePass) {
    // Every line after the first neutron line lacks its TABs: each must be passed over on
    // its own, never by searching the rest of the text for the next TAB.
    std::string text = "h\r\r\n1.0E-06\r\r\n1.0E-07\tc\t 60\r\r\n";
    for (int i = 0; i < 200000; ++i)
        text += "no tabs here\r\r\n";
    text += "2.0E-07\t1.5\t 120\r\r\n";
    Tables t;
    const DoseArchive& a = t.parse(text);
    ASSERT_EQ(a.neutron().size(), 2u);
    EXPECT_EQ(a.neutron()[1].seconds, 120);
    EXPECT_DOUBLE_EQ(a.neutron()[1].coefficient, 1.5);
}

} // namespace
} // namespace dm
