// The simulator against the manager's own parameter parse and command composition:
// every reply it beams fills the table, and everything the table sends back is accepted.
#include "sim/sim_device.h"

#include "core/cp1251.h"
#include "core/reply_text.h"
#include "core/text_file.h"
#include "history/dose_archive.h"
#include "params/catalogue.h"
#include "params/command_files.h"
#include "params/parameter_set.h"
#include "params/parameter_table.h"
#include "params/row_presentation.h"
#include "sim/device_numbers.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

std::string ShippedCatalogue() {
    const auto bytes = TryReadFile(std::filesystem::path(DM_SOURCE_DIR) / "data" / "Commands.lst");
    return bytes ? DecodeCatalogue(*bytes) : std::string();
}

// The reply as the manager reads it from the folder.
std::string AsPickedUp(const SimReply& reply) {
    return ReplyTextFromBytes(reply.bytes);
}

const SimReply* Find(const std::vector<SimReply>& replies, char letter) {
    for (const auto& r : replies)
        if (r.letter == letter)
            return &r;
    return nullptr;
}

struct Case {
    Model model;
    Language language;
};

class ManagerInterop : public ::testing::TestWithParam<Case> {};

TEST_P(ManagerInterop, TableShowsEveryCatalogueRowAndSendsBackAcceptedChanges) {
    const auto [model, language] = GetParam();
    const bool krt = MeasuresNeutron(model);
    const std::string catalogue = ShippedCatalogue();
    SimDevice device(model, catalogue, 21);
    device.fillHistory(17);

    auto replies = device.handleCommandFile(GetParametersCommand(7), device.clock());
    ASSERT_TRUE(Find(replies, 'P'));
    ParameterSet set = ReadParameterSet(AsPickedUp(*Find(replies, 'P')));
    const std::vector<ParameterRow> rows = ParameterRows(set, catalogue, language, 7);
    ParameterTableState state;
    UpdateTableState(set, rows, language, state);
    EXPECT_EQ(state.model, model);
    EXPECT_EQ(state.historyInterval, 60.0);
    EXPECT_EQ(state.historyDepth, 17.0);
    for (const auto& line : CatalogueLines(catalogue, model, language)) {
        bool found = false;
        for (const ParameterRow& row : rows)
            found = found || (row.key == line.key && !PresentRow(set, row, language).value.text.empty());
        EXPECT_TRUE(found) << line.key;
    }
    // The switch and signal rows (or the limit row) are filled too.
    for (const ParameterRow& row : rows) {
        const RowPresentation shown = PresentRow(set, row, language);
        EXPECT_FALSE(shown.value.text.empty()) << shown.name.text;
    }

    // The user touches every editable value and sends: the dosimeter takes every line.
    for (const ParameterRow& row : rows)
        if (row.editable && !row.key.empty())
            set.setModified(row.key, true);
    const ExchangeStart send = ComposeSendChanges(set, rows, model, Language::English);
    ASSERT_TRUE(send.started);
    ASSERT_EQ(send.files.size(), krt ? 2u : 1u); // a KRT-17A has more than eleven touched rows
    const std::string before = device.parameterReply(true);
    for (const auto& file : send.files) {
        replies = device.handleCommandFile(file, device.clock());
        const SimReply* result = Find(replies, 'L');
        ASSERT_TRUE(result);
        EXPECT_NE(AsPickedUp(*result).find("accepted"), std::string::npos)
            << AsPickedUp(*result) << "\nfor\n"
            << Cp1251ToUtf8(file);
    }
    EXPECT_TRUE(Find(replies, 'P'));
    // Touching "history_time" sends the depth lines, which erase the history; all else
    // is as it was.
    EXPECT_EQ(device.meter().counters().gamma.size(), 0u);
    EXPECT_EQ(device.parameters().value("userinfo"), "Simulated dosimeter");
    EXPECT_EQ(device.parameters().value("rate_threshold"), "1.000E-05");

    // The archive request goes out only while there are records; then the reply's layout
    // matches the model.
    device.advanceTo(device.clock() + 600);
    replies = device.handleCommandFile(GetParametersCommand(0), device.clock());
    set = ReadParameterSet(AsPickedUp(*Find(replies, 'P')));
    const ExchangeStart history =
        ComposeGetDoseHistory(set, ParameterRows(set, catalogue, language, 0));
    ASSERT_TRUE(history.started);
    replies = device.handleCommandFile(history.files.at(0), device.clock());
    const SimReply* archive = Find(replies, 'A');
    ASSERT_TRUE(archive);
    EXPECT_EQ(AsPickedUp(*archive).find('\t') != std::string::npos, krt);
}

INSTANTIATE_TEST_SUITE_P(ModelsAndLanguages, ManagerInterop,
                         ::testing::Values(Case{Model::Krt17a, Language::English}, Case{Model::Krt17a, Language::Russian},
                                           Case{Model::Mlv52b, Language::English}, Case{Model::Mlv52b, Language::Russian}));

TEST(ManagerInteropCommands, ArchiveFillsTheDoseArchiveRecordForRecord) {
    for (Model model : {Model::Krt17a, Model::Mlv52b}) {
        SimDevice device(model, "", 4);
        device.fillHistory(25);
        const auto replies = device.handleCommandFile(GetArchiveCommand(), device.clock());
        ASSERT_EQ(replies.size(), 1u);
        const DoseArchive archive = ParseDoseArchive(AsPickedUp(replies[0]), 60);
        const bool krt = MeasuresNeutron(model);
        EXPECT_EQ(archive.model(), model);
        const auto& c = device.meter().counters();
        ASSERT_EQ(archive.gamma().size(), 25u);
        for (std::size_t r = 0; r < 25; ++r) {
            const GammaDoseRecord& g = archive.gamma()[r];
            EXPECT_EQ(archive.text(g.doseText), FormatDeviceNumber(c.gamma[r].dose)) << r;
            EXPECT_EQ(g.seconds, 60 * static_cast<long long>(r + 1));
        }
        if (krt) {
            ASSERT_EQ(archive.neutron().size(), 25u);
            EXPECT_EQ(archive.neutron()[24].seconds, 1500);
            EXPECT_EQ(archive.text(archive.neutron()[24].timeText), "1500");
        }
    }
}

TEST(ManagerInteropCommands, EraseCommandClearsTheTotalAndIsAccepted) {
    SimDevice device(Model::Krt17a, ShippedCatalogue(), 3);
    device.fillHistory(5);
    const auto replies = device.handleCommandFile(EraseTotalDoseCommand(), device.clock());
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_NE(AsPickedUp(replies[0]).find("accepted"), std::string::npos);
    const ParameterSet set = ReadParameterSet(AsPickedUp(replies[1]));
    int found = 0;
    for (const ParameterRow& row : ParameterRows(set, ShippedCatalogue(), Language::English, 0)) {
        if (row.key == "total_val") {
            EXPECT_EQ(PresentRow(set, row, Language::English).value.text, "0");
            ++found;
        }
    }
    EXPECT_EQ(found, 1);
}

} // namespace
} // namespace dm
