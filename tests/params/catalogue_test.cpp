#include "params/catalogue.h"

#include "core/cp1251.h"
#include "core/text_file.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

const char* kSample =
    "header text is ignored\r\n"
    "<KRT17A-en>\r\n"
    "dose_val#Dose#1@r$defaultcolor\r\n"
    "history_time#Interval@rw$0/0/255\r\n"
    "total_val#Total@rw$300/256/-1\r\n"
    "</KRT17A-en>\r\n"
    "<MLV52B-en>\r\n"
    "dose_val#MLV dose@rw$defaultcolor\r\n"
    "</MLV52B-en>\r\n";

TEST(CatalogueSection, EachModelAndLanguageUsesItsOwnSection) {
    const auto krt = CatalogueLines(kSample, Model::Krt17a, Language::English);
    ASSERT_EQ(krt.size(), 3u);
    EXPECT_EQ(krt[0].key, "dose_val");
    EXPECT_EQ(krt[0].name, "Dose#1"); // a name may hold "#"
    const auto mlv = CatalogueLines(kSample, Model::Mlv52b, Language::English);
    ASSERT_EQ(mlv.size(), 1u);
    EXPECT_EQ(mlv[0].name, "MLV dose");
    EXPECT_TRUE(mlv[0].editable);
    EXPECT_TRUE(CatalogueLines(kSample, Model::Krt17a, Language::Russian).empty()); // no Russian section
}

TEST(CatalogueSection, MissingOrMisorderedTags) {
    EXPECT_EQ(SelectCatalogueSection("", Model::Krt17a, Language::English), "");
    EXPECT_EQ(SelectCatalogueSection("<KRT17A-en>\r\nx#y@r$defaultcolor\r\n", Model::Krt17a, Language::English), "");
    EXPECT_EQ(SelectCatalogueSection("x#y@r$defaultcolor\r\n</KRT17A-en>", Model::Krt17a, Language::English), "");
    EXPECT_EQ(SelectCatalogueSection("</KRT17A-en>\r\n<KRT17A-en>\r\na#b@r$c\r\n", Model::Krt17a, Language::English), "");
    EXPECT_EQ(SelectCatalogueSection("<KRT17A-en></KRT17A-en>", Model::Krt17a, Language::English), "");
    // The first occurrence of each tag counts.
    EXPECT_EQ(SelectCatalogueSection("<MLV52B-ru>\r\nA\r\n</MLV52B-ru><MLV52B-ru>\r\nB\r\n</MLV52B-ru>",
                                     Model::Mlv52b, Language::Russian),
              "A\r\n");
}

TEST(CatalogueLine, AccessLooksAtTheFirstRAfterTheAt) {
    const auto lines = SplitCatalogueSection("a#A@rw$defaultcolor\r\n"
                                             "b#B@r$defaultcolor\r\n"
                                             "c#C@ rw $defaultcolor\r\n"
                                             "d#D@xx$defaultcolor\r\n"
                                             "e#E@r$rw\r\n");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_TRUE(lines[0].editable);
    EXPECT_FALSE(lines[1].editable);
    EXPECT_TRUE(lines[2].editable);
    EXPECT_FALSE(lines[3].editable);
    EXPECT_FALSE(lines[4].editable); // the first "r" is followed by "$"
}

TEST(CatalogueLine, Colours) {
    const auto lines = CatalogueLines(kSample, Model::Krt17a, Language::English);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_FALSE(lines[0].colour.has_value());
    ASSERT_TRUE(lines[1].colour.has_value());
    EXPECT_EQ(*lines[1].colour, (Rgb{0, 0, 255}));
    ASSERT_TRUE(lines[2].colour.has_value());
    EXPECT_EQ(*lines[2].colour, (Rgb{44, 0, 255})); // low 8 bits of 300, 256 and -1
    const auto odd = SplitCatalogueSection("a#A@r$purple\r\n");
    ASSERT_EQ(odd.size(), 1u);
    EXPECT_FALSE(odd[0].colour.has_value());
}

TEST(CatalogueLine, MalformedAndEmptyLinesAreSkipped) {
    const auto lines = SplitCatalogueSection("\r\n"
                                             "no markers at all\r\n"
                                             "a#A@rw\r\n"      // no "$"
                                             "b#B$rw@\r\n"     // "$" before "@"
                                             "good#Good@rw$defaultcolor\r\n"
                                             "lf_only#LF@r$defaultcolor\n"
                                             "unterminated#U@r$defaultcolor");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].key, "good");
    EXPECT_EQ(lines[1].key, "lf_only");
}

TEST(CatalogueFile, DecodesWindows1251OrUtf8) {
    const std::string utf8 = "<KRT17A-ru>\r\ndose_val#Доза@r$defaultcolor\r\n</KRT17A-ru>\r\n";
    const std::string cp1251 = Utf8ToCp1251(utf8);
    ASSERT_NE(cp1251, utf8);
    EXPECT_EQ(DecodeCatalogue(utf8), utf8);
    EXPECT_EQ(DecodeCatalogue(cp1251), utf8);
    EXPECT_EQ(CatalogueLines(DecodeCatalogue(cp1251), Model::Krt17a, Language::Russian).at(0).name, "Доза");
}

TEST(CatalogueFile, ShippedCatalogueHasEveryKeyTheProgramRelies) {
    const auto bytes = TryReadFile(std::string(DM_SOURCE_DIR) + "/data/Commands.lst");
    ASSERT_TRUE(bytes.has_value());
    EXPECT_FALSE(IsValidUtf8(*bytes)); // shipped in Windows-1251
    const std::string catalogue = DecodeCatalogue(*bytes);
    const char* common[] = {"dose_val", "total_val", "peak_rate", "dose_time", "total_time",
                            "peak_time", "history_time", "history_depth_gma", "g_ks_large",
                            "g_ks_small", "csWeigth", "wtx[01]", "wtx[10]", "userinfo"};
    for (Model model : {Model::Krt17a, Model::Mlv52b}) {
        for (const Language lang : {Language::English, Language::Russian}) {
            const auto lines = CatalogueLines(catalogue, model, lang);
            auto has = [&](const std::string& key) {
                for (const auto& l : lines)
                    if (l.key == key)
                        return true;
                return false;
            };
            for (const char* key : common)
                EXPECT_TRUE(has(key)) << key << " model=" << ModelName(model) << " lang=" << (lang == Language::Russian ? "ru" : "en");
            EXPECT_EQ(has("dose_neutron"), MeasuresNeutron(model));
            EXPECT_EQ(has("history_depth_neu"), MeasuresNeutron(model));
            EXPECT_EQ(has("n_ks"), MeasuresNeutron(model));
            // No key may be found inside another key of the same section, since the reply
            // is searched by text.
            for (const auto& a : lines)
                for (const auto& b : lines) {
                    if (&a != &b) {
                        EXPECT_EQ(b.key.find(a.key), std::string::npos) << a.key << " in " << b.key;
                    }
                }
        }
    }
}

} // namespace
} // namespace dm
