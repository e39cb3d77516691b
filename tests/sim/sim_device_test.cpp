#include "sim/sim_device.h"

#include "core/cp1251.h"
#include "core/numbers.h"
#include "core/text_file.h"
#include "params/catalogue.h"
#include "params/change_check.h"
#include "params/parameter_description.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>

namespace dm {
namespace {

std::string ShippedCatalogue() {
    const auto bytes = TryReadFile(std::filesystem::path(DM_SOURCE_DIR) / "data" / "Commands.lst");
    return bytes ? DecodeCatalogue(*bytes) : std::string();
}

// "key = value" CR LF lines to a map; fails the test on a line of another form.
std::map<std::string, std::string> ReplyValues(const std::string& reply) {
    std::map<std::string, std::string> values;
    std::size_t start = 0;
    while (start < reply.size()) {
        const std::size_t end = reply.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "line without CR LF at " << start;
        if (end == std::string::npos)
            break;
        const std::string line = reply.substr(start, end - start);
        const std::size_t eq = line.find(" = ");
        EXPECT_NE(eq, std::string::npos) << line;
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 3);
        start = end + 2;
    }
    return values;
}

std::string Text(const SimReply& reply) {
    return Cp1251ToUtf8(reply.bytes);
}

std::string Letters(const std::vector<SimReply>& replies) {
    std::string s;
    for (const auto& r : replies)
        s += r.letter;
    return s;
}

const std::regex kDeviceNumber(R"(\d\.\d{3}E[+-]\d{2})");
const std::regex kWhole(R"(\d+)");
const char* const kProtected[] = {"g_ks_large", "g_ks_small", "n_ks",
                                  "csWeigth",   "wtx[01]",    "wtx[10]"};
const std::string kGetParameters = "get_parameters=255\r\n#\r\n";
const std::string kWithPassword =
    "\r\n#\r\npassword = \"mervatun\"\r\ndebug = \"out\"\r\n" + kGetParameters;

TEST(SimDeviceParameters, KrtAnswersEveryCatalogueKeyInDeviceFormats) {
    const std::string catalogue = ShippedCatalogue();
    ASSERT_FALSE(catalogue.empty());
    SimDevice device(Model::Krt17a, catalogue, 7);
    device.fillHistory(30);
    device.advanceTo(device.clock() + 600);
    const std::string reply = device.parameterReply(true);
    auto values = ReplyValues(reply);

    for (const Language lang : {Language::English, Language::Russian})
        for (const auto& line : CatalogueLines(catalogue, Model::Krt17a, lang))
            EXPECT_TRUE(values.count(line.key)) << line.key;
    EXPECT_NE(reply.find("neutr"), std::string::npos);
    for (const char* key : {"dose_val", "dose_neutron", "total_val", "peak_rate", "rate_threshold",
                            "dose_threshold", "limit_fixed"})
        EXPECT_TRUE(std::regex_match(values[key], kDeviceNumber)) << key << " = " << values[key];
    for (const char* key : {"dose_time", "total_time", "peak_time", "history_time",
                            "history_depth_gma", "history_depth_neu", "limit_percent"})
        EXPECT_TRUE(std::regex_match(values[key], kWhole)) << key << " = " << values[key];
    EXPECT_EQ(values["dose_time"], "2400"); // switched on when the history began
    EXPECT_EQ(values["history_depth_gma"], "40");
    EXPECT_EQ(values["history_depth_neu"], "40");
    EXPECT_GT(ParseDeviceNumber(values["dose_val"]), 0.0);
    for (const char* key : {"cfg_final_sound", "cfg_alarmoff", "cfg_incharger_sound"})
        EXPECT_TRUE(values[key] == "enable" || values[key] == "disable") << key;
    EXPECT_EQ(values["cfg_type_of_signal"], "fixed");
    // The free text is quoted and comes last, so no key inside it is ever found first.
    EXPECT_EQ(values["userinfo"], "\"Simulated dosimeter\"");
    EXPECT_EQ(reply.rfind("userinfo = "), reply.rfind("\r\n", reply.size() - 3) + 2);
}

TEST(SimDeviceParameters, MlvHasNoNeutronTraceAndNoSwitches) {
    const std::string catalogue = ShippedCatalogue();
    SimDevice device(Model::Mlv52b, catalogue, 7);
    device.fillHistory(5);
    const std::string reply = device.parameterReply(true);
    auto values = ReplyValues(reply);
    for (const Language lang : {Language::English, Language::Russian})
        for (const auto& line : CatalogueLines(catalogue, Model::Mlv52b, lang))
            EXPECT_TRUE(values.count(line.key)) << line.key;
    EXPECT_EQ(reply.find("neutr"), std::string::npos);
    EXPECT_FALSE(values.count("n_ks"));
    EXPECT_FALSE(values.count("cfg_final_sound"));
    EXPECT_TRUE(std::regex_match(values["limit_fixed"], kDeviceNumber));
    EXPECT_EQ(values["history_depth_gma"], "5");
}

TEST(SimDeviceParameters, WithoutCatalogueTheBuiltInListIsAnswered) {
    SimDevice device(Model::Krt17a, "", 7);
    const auto values = ReplyValues(device.parameterReply(false));
    for (const char* key : {"dose_val", "dose_neutron", "total_val", "history_time",
                            "history_depth_gma", "history_depth_neu", "userinfo", "limit_percent"})
        EXPECT_TRUE(values.count(key)) << key;
}

TEST(SimDeviceParameters, ExtraCatalogueKeysAreAnsweredAndSettable) {
    const std::string catalogue =
        "<MLV52B-en>\r\nambient_temp#Temperature@rw$defaultcolor\r\n"
        "bad key#Broken@r$defaultcolor\r\n"
        "dose_neutron#Not on this model@r$defaultcolor\r\n"
        "cfg_alarmoff#Not on this model either@rw$defaultcolor\r\n</MLV52B-en>\r\n";
    SimDevice device(Model::Mlv52b, catalogue, 7);
    std::string reply = device.parameterReply(false);
    EXPECT_EQ(reply.rfind("ambient_temp = 0\r\n", 0), 0u) << reply; // catalogue order first
    EXPECT_EQ(reply.find("bad key"), std::string::npos);
    EXPECT_EQ(reply.find("neutr"), std::string::npos);
    EXPECT_EQ(reply.find("cfg_alarmoff"), std::string::npos); // it would read as a KRT-17A
    device.handleCommandFile("ambient_temp = 21.5\r\n", 0);
    EXPECT_NE(device.parameterReply(false).find("ambient_temp = 21.5\r\n"), std::string::npos);
}

TEST(SimDeviceCommands, ProtectedKeysOnlyWithThePassword) {
    SimDevice device(Model::Krt17a, ShippedCatalogue(), 7);
    auto plain = device.handleCommandFile(kGetParameters, device.clock());
    ASSERT_EQ(Letters(plain), "P");
    for (const char* key : kProtected)
        EXPECT_EQ(Text(plain[0]).find(std::string(key) + " = "), std::string::npos) << key;

    // The password block is no setting: no result reply, only the parameters.
    auto unlocked = device.handleCommandFile(kWithPassword, device.clock());
    ASSERT_EQ(Letters(unlocked), "P");
    for (const char* key : kProtected)
        EXPECT_NE(Text(unlocked[0]).find(std::string(key) + " = "), std::string::npos) << key;

    auto wrong =
        device.handleCommandFile("password = \"mervatum\"\r\n" + kGetParameters, device.clock());
    ASSERT_EQ(Letters(wrong), "LP");
    EXPECT_EQ(Text(wrong[0]).find("accepted"), std::string::npos);
    EXPECT_EQ(Text(wrong[1]).find("g_ks_large"), std::string::npos);
}

TEST(SimDeviceCommands, SettingsAreStoredAcceptedAndReported) {
    SimDevice device(Model::Krt17a, ShippedCatalogue(), 7);
    const std::string file = Utf8ToCp1251(
        "rate_threshold = 2.5E-05\r\nuserinfo = \"Иванов И.И.\"\r\ncfg_alarmoff = enable\r\n"
        "cfg_select_sound = dose\r\ncfg_type_of_signal = percent\r\nlimit_percent = 125\r\n\r\n" +
        kGetParameters);
    const auto replies = device.handleCommandFile(file, device.clock());
    ASSERT_EQ(Letters(replies), "LP");
    EXPECT_NE(Text(replies[0]).find("accepted"), std::string::npos);
    const auto values = ReplyValues(Text(replies[1]));
    EXPECT_EQ(values.at("rate_threshold"), "2.500E-05");
    EXPECT_EQ(values.at("userinfo"), "\"Иванов И.И.\"");
    EXPECT_EQ(values.at("cfg_alarmoff"), "enable");
    EXPECT_EQ(values.at("cfg_type_of_signal"), "percent");
    EXPECT_EQ(values.at("limit_percent"), "125");
    // Without a request for parameters only the result comes back.
    EXPECT_EQ(Letters(device.handleCommandFile("dose_threshold = 0.002\r\n", device.clock())), "L");
}

TEST(SimDeviceCommands, RefusalsNameTheKeyAndNeverSayAccepted) {
    SimDevice device(Model::Mlv52b, ShippedCatalogue(), 7);
    const auto check = [&](const std::string& line, const std::string& named) {
        const auto replies =
            device.handleCommandFile(line + "\r\n" + kGetParameters, device.clock());
        ASSERT_EQ(Letters(replies), "LP") << line;
        const std::string result = Text(replies[0]);
        EXPECT_NE(result.find(named), std::string::npos) << result;
        EXPECT_EQ(result.find("accepted"), std::string::npos) << result;
    };
    check("foo_bar = 1", "foo_bar");
    check("history_time = abc", "history_time");
    check("history_time = 0", "history_time");
    check("rate_threshold = 1e400", "rate_threshold");
    check("serial_number = 42", "serial_number");
    check("dose_val = 0", "dose_val");
    check("total_val = 5", "total_val");
    check("cfg_final_sound = enable", "cfg_final_sound"); // a switch the MLV-52B lacks
    check("history_depth_neu = 0", "history_depth_neu");
    check("reboot", "reboot");
    check("userinfo = \"" + std::string(101, 'x') + "\"", "userinfo");
    EXPECT_EQ(device.parameters().value("history_time"), "60");

    // A mix: the good line is stored, the refusal is reported.
    const auto mixed =
        device.handleCommandFile("dose_threshold = 3E-03\r\nnope = 1\r\n", device.clock());
    ASSERT_EQ(Letters(mixed), "L");
    EXPECT_NE(Text(mixed[0]).find("nope"), std::string::npos);
    EXPECT_EQ(device.parameters().value("dose_threshold"), "3.000E-03");
}

TEST(SimDeviceCommands, OddFilesAreHandledWithoutLoss) {
    SimDevice device(Model::Krt17a, "", 7);
    EXPECT_TRUE(device.handleCommandFile("", 0).empty());
    EXPECT_TRUE(device.handleCommandFile("#\r\n\r\n   \r\n", 0).empty());
    // Bare LF line ends work as well as CR LF.
    EXPECT_EQ(Letters(device.handleCommandFile("get_parameters=255\n#\n", 0)), "P");
    // Binary garbage: one result reply, no crash.
    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += static_cast<char>((i * 37) & 0xFF);
    const auto g = device.handleCommandFile(garbage, 0);
    ASSERT_FALSE(g.empty());
    EXPECT_EQ(g[0].letter, 'L');
    // Thousands of unknown lines: the result names the first ones and counts the rest.
    std::string many;
    for (int i = 0; i < 5000; ++i)
        many += "key" + std::to_string(i) + " = 1\r\n";
    const auto m = device.handleCommandFile(many, 0);
    ASSERT_EQ(Letters(m), "L");
    EXPECT_NE(Text(m[0]).find("key0"), std::string::npos);
    EXPECT_NE(Text(m[0]).find("and 4980 more"), std::string::npos);
}

TEST(SimDeviceCommands, EraseTotalDose) {
    SimDevice device(Model::Krt17a, "", 7);
    device.fillHistory(50);
    ASSERT_GT(device.meter().counters().totalDose, 0);
    const auto replies = device.handleCommandFile(
        "total_val=0\r\ntotal_time=0\r\n" + kGetParameters, device.clock());
    ASSERT_EQ(Letters(replies), "LP");
    EXPECT_NE(Text(replies[0]).find("accepted"), std::string::npos);
    const auto values = ReplyValues(Text(replies[1]));
    EXPECT_EQ(values.at("total_val"), "0.000E+00");
    EXPECT_EQ(values.at("total_time"), "0");
    // The history is a separate store and stays.
    EXPECT_EQ(values.at("history_depth_gma"), "50");
}

TEST(SimDeviceHistory, ChangedIntervalErasesTheHistory) {
    SimDevice device(Model::Krt17a, "", 7);
    device.fillHistory(10);
    // The same interval again keeps the records.
    device.handleCommandFile("history_time = 60\r\n", device.clock());
    EXPECT_EQ(device.meter().counters().gamma.size(), 10u);

    const long long t0 = device.clock();
    auto replies = device.handleCommandFile(
        "history_time = 30\r\nhistory_depth_gma = 0\r\nhistory_depth_neu = 0\r\n" + kGetParameters,
        t0);
    ASSERT_EQ(Letters(replies), "LP");
    auto values = ReplyValues(Text(replies[1]));
    EXPECT_EQ(values.at("history_time"), "30");
    EXPECT_EQ(values.at("history_depth_gma"), "0");
    EXPECT_EQ(values.at("history_depth_neu"), "0");

    replies = device.handleCommandFile(kGetParameters, t0 + 95);
    values = ReplyValues(Text(replies[0]));
    EXPECT_EQ(values.at("history_depth_gma"), "3");
    EXPECT_EQ(device.meter().counters().neutron.back().seconds, 90);
}

TEST(SimDeviceHistory, GrowsWithTheClockAndKeepsTheNewestRecords) {
    SimDevice device(Model::Mlv52b, "", 11);
    device.fillHistory(DoseMeter::kHistoryCapacity - 2);
    const double lastBefore = device.meter().counters().gamma.back().dose;
    const double totalBefore = device.meter().counters().totalDose;
    device.advanceTo(device.clock() + 5 * 60 + 30);
    const auto& c = device.meter().counters();
    EXPECT_EQ(c.gamma.size(), DoseMeter::kHistoryCapacity);
    EXPECT_EQ(c.historyIntervals, static_cast<long long>(DoseMeter::kHistoryCapacity) + 3);
    EXPECT_GT(c.gamma.back().dose, lastBefore);
    // Five and a half minutes at 0.1 to about 20 uSv/h.
    const double added = c.totalDose - totalBefore;
    EXPECT_GE(added, 0.1e-6 * 330 / 3600 * 0.999);
    EXPECT_LE(added, 21e-6 * 330 / 3600);
    // Advancing to an earlier clock does nothing.
    const long long clock = device.clock();
    device.advanceTo(clock - 100);
    EXPECT_EQ(device.clock(), clock);
}

TEST(SimDeviceHistory, DoseRateIsBackgroundWithOccasionalSources) {
    int sourceSlots = 0;
    double lowest = 1, highest = 0;
    const long long slots = 100000; // about eleven and a half days
    for (long long s = 0; s < slots; ++s) {
        const auto rate = SimulatedDoseRate(3, s, true);
        lowest = std::min(lowest, rate.gamma);
        highest = std::max(highest, rate.gamma);
        if (rate.gamma > 0.3e-6 * 1.0001)
            ++sourceSlots;
        EXPECT_GT(rate.neutron, 0);
    }
    EXPECT_GE(lowest, 0.1e-6 * 0.9999);
    EXPECT_LE(highest, 20.3e-6);
    EXPECT_GT(sourceSlots, slots / 200);
    EXPECT_LT(sourceSlots, slots / 20);
    EXPECT_EQ(SimulatedDoseRate(3, 12345, false).gamma, SimulatedDoseRate(3, 12345, false).gamma);
    EXPECT_EQ(SimulatedDoseRate(3, 12345, false).neutron, 0);
}

TEST(SimDeviceArchive, KrtLayoutHasHeadingGammaLinesAndNeutronLines) {
    SimDevice device(Model::Krt17a, "", 7);
    device.fillHistory(3);
    const std::string a = device.archiveReply();
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < a.size();) {
        const std::size_t end = a.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        lines.push_back(a.substr(start, end - start));
        start = end + 2;
    }
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0].find('\t'), std::string::npos);
    // First gamma line: one extra character in front of the dose.
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"( \d\.\d{3}E-\d\d)"))) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(\d\.\d{3}E-\d\d)"))) << lines[2];
    double previous = 0;
    for (int i = 1; i <= 3; ++i) {
        const double dose = ParseDeviceNumber(lines[i].substr(i == 1 ? 1 : 0));
        EXPECT_GE(dose, previous);
        previous = dose;
    }
    for (int i = 4; i <= 6; ++i) {
        std::smatch m;
        ASSERT_TRUE(
            std::regex_match(lines[i], m, std::regex(R"((\d\.\d{3}E-\d\d)\t(\d\.\d\d)\t (\d+))")))
            << lines[i];
        EXPECT_EQ(m[3].str(), std::to_string((i - 3) * 60));
    }
}

TEST(SimDeviceArchive, MlvLayoutHasFourHeadingLinesAndNoTab) {
    SimDevice device(Model::Mlv52b, "", 7);
    device.fillHistory(2);
    const std::string a = device.archiveReply();
    EXPECT_EQ(a.find('\t'), std::string::npos);
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < a.size();) {
        const std::size_t end = a.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        lines.push_back(a.substr(start, end - start));
        start = end + 2;
    }
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_TRUE(std::regex_match(lines[4], std::regex(R"(\d\.\d{3}E-\d\d)")));
    EXPECT_TRUE(std::regex_match(lines[5], std::regex(R"(\d\.\d{3}E-\d\d)")));
    // Without records only the heading lines are left.
    SimDevice empty(Model::Mlv52b, "", 7);
    const std::string e = empty.archiveReply();
    EXPECT_EQ(std::count(e.begin(), e.end(), '\n'), 4);
}

TEST(SimDeviceState, RoundTripKeepsParametersAndHistory) {
    SimDevice device(Model::Krt17a, ShippedCatalogue(), 99);
    device.fillHistory(25);
    device.handleCommandFile(
        Utf8ToCp1251("userinfo = \"Петров\"\r\nhistory_time = 60\r\ng_ks_large = 1.5\r\n"),
        device.clock());
    device.advanceTo(device.clock() + 130);
    const std::string state = device.stateText();

    SimDevice copy(Model::Krt17a, ShippedCatalogue(), 1);
    std::string error;
    ASSERT_TRUE(copy.loadState(state, &error)) << error;
    EXPECT_EQ(copy.archiveReply(), device.archiveReply());
    EXPECT_EQ(copy.stateText(), state);
    EXPECT_EQ(copy.parameters().value("userinfo"), "Петров");
    EXPECT_EQ(copy.parameters().value("g_ks_large"), "1.5000");
    // Both go on alike: the seed travels with the state.
    device.advanceTo(device.clock() + 600);
    copy.advanceTo(copy.clock() + 600);
    EXPECT_EQ(copy.archiveReply(), device.archiveReply());
}

TEST(SimDeviceState, DamagedStateIsRefusedWithReasonAndChangesNothing) {
    SimDevice source(Model::Krt17a, "", 5);
    source.fillHistory(4);
    const std::string good = source.stateText();

    SimDevice device(Model::Krt17a, "", 7);
    device.fillHistory(2);
    const std::string archiveBefore = device.archiveReply();
    const auto refused = [&](const std::string& text, const std::string& reason) {
        std::string error;
        EXPECT_FALSE(device.loadState(text, &error));
        EXPECT_NE(error.find(reason), std::string::npos) << error;
        EXPECT_EQ(device.archiveReply(), archiveBefore);
    };
    auto replace = [&](const std::string& from, const std::string& to) {
        std::string s = good;
        s.replace(s.find(from), from.size(), to);
        return s;
    };
    refused("", "empty");
    refused("\x01\x02garbage\n", "not a simulated dosimeter state");
    refused(good.substr(0, good.size() / 2), "cut short");
    refused(replace("model KRT-17A", "model MLV-52B"), "MLV-52B");
    refused(replace("clock ", "clock x"), "line 4");
    refused(replace("param history_time 60", "param history_time soon"), "history_time");
    refused(replace("gamma ", "gamma -"), "gamma");
    refused(replace("end\n", "end\nmore\n"), "after the end");
    refused(replace("history_interval 60", "history_interval 0"), "history_interval");
    std::string error;
    EXPECT_TRUE(device.loadState(good, &error)) << error;
}

// The simulated dosimeter knows its parameters from the shared description table: which
// model carries which, what is read-only, what is protected, which words a choice takes.
TEST(SimParameterStore, FollowsTheDescriptionTable) {
    for (Model model : {Model::Krt17a, Model::Mlv52b}) {
        const ParameterStore store(model);
        const bool krt = MeasuresNeutron(model);
        for (const std::string& key : store.keys()) {
            const ParameterDescription* d = DescribeParameter(key);
            ASSERT_NE(d, nullptr) << key;
            EXPECT_TRUE(d->carriedBy(model)) << key;
            EXPECT_EQ(store.isProtected(key), d->protectionGroup != kUnprotected) << key;
        }
        EXPECT_EQ(store.has("n_ks"), krt);
        EXPECT_EQ(store.has("cfg_final_sound"), krt);
        EXPECT_TRUE(store.has("cfg_type_of_signal"));
    }
    ParameterStore store(Model::Krt17a);
    EXPECT_EQ(store.set("battery_level", "50").status, ParameterStore::SetStatus::ReadOnly);
    EXPECT_EQ(store.set("cfg_alarmoff", "on").reason, "enable or disable");
    EXPECT_EQ(store.set("cfg_select_sound", "fixed").reason, "dose or rate");
    EXPECT_EQ(store.set("cfg_type_of_signal", "percent").status, ParameterStore::SetStatus::Stored);
    EXPECT_EQ(store.set("limit_percent", "1001").reason, "a whole percentage from 0 to 1000");
    EXPECT_EQ(store.set("history_time", "0").reason, "whole seconds from 1 to 86400");
}

// The window checks a value before it sends it; the simulated dosimeter must take exactly
// what that check lets through, at the edges of every range.
TEST(SimParameterStore, TakesWhatTheWindowsCheckLetsThrough) {
    for (const ParameterDescription& d : ParameterDescriptions()) {
        if (!d.writable || !d.range.known())
            continue;
        const ValueRange& r = d.range;
        const double step = r.whole ? 1 : r.low > 0 ? r.low / 2 : 1e-6;
        for (double v : {r.low, r.high, r.low - step, r.high + step, (r.low + r.high) / 2}) {
            char text[40];
            std::snprintf(text, sizeof text, r.whole ? "%.0f" : "%.6g", v);
            ParameterStore store(Model::Krt17a);
            const bool stored = store.set(d.key, text).status == ParameterStore::SetStatus::Stored;
            EXPECT_EQ(stored, CheckValue(d, text).ok()) << d.key << " = " << text;
        }
    }
}

// A coefficient is kept with four decimals; one that would be kept as 0.0000 or 1000.0000
// is refused, so a saved state always loads again.
TEST(SimDeviceState, CoefficientsOutOfRangeOnceRoundedAreRefused) {
    ParameterStore store(Model::Krt17a);
    EXPECT_EQ(store.set("wtx[10]", "0.000001").status, ParameterStore::SetStatus::BadValue);
    EXPECT_EQ(store.set("g_ks_large", "999.99999").status, ParameterStore::SetStatus::BadValue);
    EXPECT_EQ(store.value("wtx[10]"), "1.1200");
    EXPECT_EQ(store.set("wtx[10]", "0.0001").status, ParameterStore::SetStatus::Stored);
    EXPECT_EQ(store.value("wtx[10]"), "0.0001");

    SimDevice source(Model::Krt17a, "", 5);
    std::string state = source.stateText();
    const std::string from = "param wtx[10] 1.1200";
    ASSERT_NE(state.find(from), std::string::npos);
    state.replace(state.find(from), from.size(), "param wtx[10] 1.39e-08");
    SimDevice device(Model::Krt17a, "", 7);
    std::string error;
    EXPECT_FALSE(device.loadState(state, &error));
    EXPECT_NE(error.find("wtx[10]"), std::string::npos) << error;
}

} // namespace
} // namespace dm
