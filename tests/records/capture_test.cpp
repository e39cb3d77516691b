// Capture: the window's recorder and the command line's keeper date and tie their records
// by one rule. Within one second, two readouts of different content are two records (the
// same content again is one); other records of that second go one second later; changes
// sent are recorded once settled, and as not taken when anything else comes first.
#include "params/change_check.h"
#include "records/capture.h"
#include "records/record_spool.h"
#include "records_backends.h"

#include <gtest/gtest.h>

namespace dm::records::test {
namespace {

ParameterSet Reading(const std::string& serial, const std::string& threshold) {
    return ReadParameterSet("serial_number = " + serial + "\r\ntotal_val = 1.0E-06\r\ndose_threshold = " +
                            threshold + "\r\n");
}

TEST(Capture, OneRuleForTheSameSecondFromTheWindowAndTheCommandLine) {
    ScratchDatabase db("sqlite");
    const UtcSeconds second = 1'800'000'000;
    ReadingCapture window({"station-1", "tech"}, [&] { return second; });
    ReadingCapture cli({"station-1", "tech"}, [&] { return second; });

    std::vector<RecordEntry> kept;
    auto keep = [&](Captured c) {
        EXPECT_FALSE(c.note);
        for (RecordEntry& e : c.entries)
            kept.push_back(std::move(e));
    };
    keep(window.parameters(Reading("17-000101", "1.000E-03")));
    keep(cli.parameters(Reading("17-000101", "1.000E-03")));  // the same reading: a repeat
    keep(cli.parameters(Reading("17-000101", "3.000E-03")));  // other content, same second

    keep(window.changesSent({{"dose_threshold", "1.000E-03", "2.000E-03"}, {"alarm", "", "enable"}}));
    EXPECT_TRUE(kept.size() == 3u && window.awaitedChanges()); // nothing recorded until settled
    const ParameterSet renewed = Reading("17-000101", "2.0E-03");
    keep(window.changesSettled({ValueTaken(renewed, "dose_threshold", "2.000E-03")})); // alarm: no decision
    keep(window.parameters(renewed));
    keep(window.changesSent({{"dose_threshold", "2.0E-03", "5.000E-03"}}));
    keep(window.erase()); // went out before the renewed reply: the changes were not taken
    keep(window.erase()); // a second erase in the same second goes one second later
    keep(window.gone());
    EXPECT_EQ(window.archive(DoseArchive{}, 1.0).note, IDS_REC_UNKNOWN_HISTORY);

    std::unique_ptr<RecordsRepository> repo = RecordsRepository::open(db.urlText());
    for (const RecordEntry& e : kept)
        StoreEntry(*repo, e);
    const std::vector<ReadoutView> readouts = repo->readouts("17-000101");
    ASSERT_EQ(readouts.size(), 3u); // the repeat stored once; the other content kept at its real time
    for (const ReadoutView& r : readouts)
        EXPECT_EQ(r.at, second);

    const std::vector<HistoryEntry> history = repo->history("17-000101");
    ASSERT_EQ(history.size(), 4u);
    EXPECT_EQ(history[0].action, "send-changes");
    ASSERT_EQ(history[0].changes.size(), 2u);
    EXPECT_TRUE(history[0].changes[0].taken); // "2.0E-03" is the number sent
    EXPECT_FALSE(history[0].changes[1].taken);
    // By time: the second changes and the second erase each went one second later.
    EXPECT_EQ(history[1].action, "erase");
    EXPECT_EQ(history[1].at, second);
    EXPECT_EQ(history[2].action, "send-changes");
    EXPECT_EQ(history[2].at, second + 1);
    EXPECT_FALSE(history[2].changes[0].taken);
    EXPECT_EQ(history[3].action, "erase");
    EXPECT_EQ(history[3].at, second + 1);
}

} // namespace
} // namespace dm::records::test
