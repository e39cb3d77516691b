// The description table against the files and programs that must agree with it, and the
// parameter set's edits as the table and the CLI make them.
#include "params/command_files.h"
#include "params/edit_rules.h"
#include "params/parameter_description.h"
#include "params_test_support.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

using test::Parse;
using test::Reply;
using test::RowOf;
using test::ValueOf;

TEST(ParameterDescriptions, ShippedCatalogueListsOnlyDescribedKeysWithTheirAccess) {
    const std::string catalogue = DecodeCatalogue(
        TryReadFile(std::string(DM_SOURCE_DIR) + "/data/Commands.lst").value_or(""));
    int lines = 0;
    for (Model model : {Model::Krt17a, Model::Mlv52b}) {
        for (const Language language : {Language::English, Language::Russian}) {
            for (const CatalogueLine& line : CatalogueLines(catalogue, model, language)) {
                ++lines;
                const ParameterDescription* d = DescribeParameter(line.key);
                ASSERT_NE(d, nullptr) << line.key;
                EXPECT_EQ(line.editable, d->writable) << line.key;
                EXPECT_TRUE(d->carriedBy(model)) << line.key;
            }
        }
    }
    EXPECT_GT(lines, 40);
    for (const ParameterDescription& d : ParameterDescriptions()) {
        EXPECT_EQ(DescribeParameter(d.key), &d) << d.key << " is described twice";
        EXPECT_EQ(d.isChoice(), d.kind == ParameterKind::Switch || d.kind == ParameterKind::Signal)
            << d.key;
    }
}

TEST(ParameterSetEdits, TypedFieldsAndEditsKeepTheRawValue) {
    ParameterSet set = ReadParameterSet(Reply("params-krt17a.txt"));
    const Parameter* rate = set.find("peak_rate");
    ASSERT_NE(rate, nullptr);
    EXPECT_EQ(rate->kind, ParameterKind::DoseRate);
    EXPECT_EQ(rate->unit, "Sv/h");
    EXPECT_FALSE(rate->writable);
    EXPECT_EQ(set.find("csWeigth")->protectionGroup, kGammaCorrectionGroup);

    // An equal value is no change; going back to the value received keeps the touch.
    EXPECT_TRUE(set.setValue("dose_threshold", "0.02"));
    EXPECT_FALSE(set.isModified("dose_threshold"));
    set.setValue("dose_threshold", "0.5");
    set.setValue("dose_threshold", "0.02");
    EXPECT_TRUE(set.isModified("dose_threshold"));
    EXPECT_EQ(set.raw("dose_threshold"), "0.02");

    // A switch may be set though the reply lacked it; a key nobody knows may not.
    ParameterSet bare = ReadParameterSet("dose_neutron = 1\r\n");
    EXPECT_TRUE(EndEdit(bare, "cfg_alarmoff", "enable"));
    EXPECT_EQ(bare.raw("cfg_alarmoff"), "");
    EXPECT_FALSE(EndEdit(bare, "cfg_alarmoff", "on")); // not one of its words
    EXPECT_EQ(bare.value("cfg_alarmoff"), "enable");
    EXPECT_FALSE(bare.setValue("no_such_key", "1"));
    EXPECT_EQ(bare.find("no_such_key"), nullptr);

    // Blanks after a word do not hide it; blanks after a text are kept.
    const ParameterSet padded =
        ReadParameterSet("cfg_type_of_signal = percent  \r\nuserinfo = \"a \" \r\n");
    EXPECT_EQ(padded.raw("cfg_type_of_signal"), "percent");
    EXPECT_EQ(padded.raw("userinfo"), "a  ");
}

TEST(ParameterSetEdits, LanguageSwitchRelabelsAndKeepsWhatIsSent) {
    auto t = Parse(Reply("params-krt17a.txt"));
    test::ScriptedUser user;
    const int threshold = RowOf(t, "dose_threshold");
    ASSERT_TRUE(t.begin(threshold, RowCell::Value, user));
    ASSERT_TRUE(t.end(threshold, RowCell::Value, "0.05"));
    ASSERT_TRUE(t.end(RowOf(t, "cfg_alarmoff"), RowCell::Value, "enable"));
    const std::vector<std::string> english = ComposeSendChanges(t.set, t.rows, Model::Krt17a, t.language).files;

    // The same set shown in Russian: new names and words, the same values and flags.
    t.language = Language::Russian;
    t.fill(test::Catalogue());
    EXPECT_EQ(ValueOf(t, "dose_threshold"), "0.05");
    EXPECT_TRUE(t.shown(RowOf(t, "dose_threshold")).value.modified);
    EXPECT_EQ(ValueOf(t, "cfg_alarmoff"), "включить");
    EXPECT_EQ(ValueOf(t, "dose_val"), "1.5 мЗв");
    EXPECT_EQ(ComposeSendChanges(t.set, t.rows, Model::Krt17a, t.language).files, english);
}

TEST(ParameterSetEdits, TouchedValueIsSentAsItsOwnKeyHolds) {
    // "rate_threshold_max" comes before "rate_threshold" in the reply; touching the
    // threshold must send the threshold's own value back, not its neighbour's.
    auto t = Parse(Reply("params-mlv52b.txt"));
    test::ScriptedUser user;
    ASSERT_TRUE(t.begin(RowOf(t, "rate_threshold"), RowCell::Value, user));
    const std::string file = ComposeSendChanges(t.set, t.rows, Model::Mlv52b, Language::English).files.at(0);
    EXPECT_EQ(file.rfind("rate_threshold = 1.0E-05\r\ncfg_type_of_signal = fixed\r\n", 0), 0u) << file;
}

} // namespace
} // namespace dm
