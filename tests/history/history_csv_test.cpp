#include "history/history_csv.h"

#include "core/reply_text.h"
#include "core/text_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace dm {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// A strict RFC 4180 reader: CR LF line ends, quoted fields with doubled quotes.
Rows ReadCsv(const std::string& text) {
    Rows rows(1, std::vector<std::string>(1));
    std::size_t i = 0;
    while (i < text.size()) {
        std::string& field = rows.back().back();
        if (text[i] == '"' && field.empty()) {
            for (++i; i < text.size(); ++i) {
                if (text[i] == '"' && (i + 1 >= text.size() || text[i + 1] != '"'))
                    break;
                if (text[i] == '"')
                    ++i;
                field += text[i];
            }
            EXPECT_LT(i, text.size()) << "unterminated quote";
            ++i;
        } else if (text[i] == ',') {
            rows.back().emplace_back();
            ++i;
        } else if (text.compare(i, 2, "\r\n") == 0) {
            i += 2;
            if (i < text.size())
                rows.emplace_back(1);
        } else {
            EXPECT_NE(text[i], '"');
            EXPECT_NE(text[i], '\n') << "bare line feed";
            field += text[i++];
        }
    }
    EXPECT_TRUE(text.ends_with("\r\n"));
    return rows;
}

TEST(HistoryCsv, Krt17aArchiveReadsBackWithFullPrecision) {
    auto bytes = TryReadFile(std::string(DM_TEST_DATA) + "/archive-krt17a.txt");
    ASSERT_TRUE(bytes);
    const DoseArchive archive = ParseDoseArchive(ReplyTextFromBytes(*bytes), 60.0);
    for (HistoryTab tab : {HistoryTab::Dose, HistoryTab::Neutron}) {
        const HistoryTable table(archive, tab, Language::Russian); // Russian texts stay UTF-8
        const Rows rows = ReadCsv(HistoryCsvBytes(archive, table, tab));
        const bool neutron = tab == HistoryTab::Neutron;
        const std::size_t records = neutron ? archive.neutron().size() : archive.gamma().size();
        ASSERT_GT(records, 0u);
        ASSERT_EQ(rows.size(), records + 1);
        EXPECT_EQ(rows[0][0], "number");
        for (std::size_t r = 1; r < rows.size(); ++r) {
            const auto& row = rows[r];
            ASSERT_EQ(row.size(), neutron ? 6u : 5u) << r;
            const double sv = neutron ? archive.neutron()[r - 1].sv : archive.gamma()[r - 1].sv;
            const long long seconds = neutron ? archive.neutron()[r - 1].seconds : archive.gamma()[r - 1].seconds;
            EXPECT_EQ(row[0], table.text(int(r), 0));
            EXPECT_EQ(std::stoll(row[1]), seconds);
            EXPECT_EQ(std::strtod(row[3].c_str(), nullptr), sv) << row[3];
            EXPECT_EQ(row[4], table.text(int(r), 2));
            if (neutron) {
                EXPECT_EQ(std::strtod(row[5].c_str(), nullptr), archive.neutron()[r - 1].coefficient);
            }
        }
    }
    // Fields with separators, quotes and line ends come back whole.
    EXPECT_EQ(ReadCsv(CsvField("a,\"b\"\r\nc") + ",x\r\n"), (Rows{{"a,\"b\"\r\nc", "x"}}));
    EXPECT_TRUE(HistoryCsvBytes(DoseArchive{}, HistoryTable{}, HistoryTab::Dose).empty());
}

} // namespace
} // namespace dm
