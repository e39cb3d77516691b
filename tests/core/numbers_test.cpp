#include "core/format.h"
#include "core/numbers.h"

#include <charconv>
#include <clocale>
#include <cstdio>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace dm {
namespace {

TEST(ParseDeviceNumber, CapitalEExponent) {
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("1.5E-03"), 0.0015);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("2.0E+02"), 200.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("1.0E-003"), 1.0);   // exponent cut to "00"
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("1.0E+123"), 1e12);  // "12"
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("3.0E 02"), 0.03);   // any sign but "+" divides
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("3.0E+2"), 300.0);   // one digit only
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("3.0E"), 3.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("E+05"), 0.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber(" -2.5E-01 Sv"), -0.25);
}

TEST(ParseDeviceNumber, PlainText) {
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("0.25"), 0.25);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("  12abc"), 12.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("1e-3"), 0.001); // small e is the standard reading
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("abc"), 0.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber(""), 0.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("inf"), 0.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("nan"), 0.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("0x10"), 0.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber(".5"), 0.5);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("+7."), 7.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("1e"), 1.0);
}

TEST(ParseDeviceNumber, ExtremesDoNotHang) {
    EXPECT_EQ(ParseDeviceNumber("1e999"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(ParseDeviceNumber("1e-999"), 0.0);
    EXPECT_DOUBLE_EQ(ParseDeviceNumber("1E-99"), 1e-99);
}

TEST(LeadingNumber, ShortNumbersReadExactlyAsTheFullConversionReadsThem) {
    // Up to 15 digits take a shortcut; every such text must give the very same double as
    // the full conversion, and longer ones must still read.
    const auto full = [](const std::string& t) {
        double v = 0;
        std::from_chars(t.data() + (t[0] == '-'), t.data() + t.size(), v);
        return t[0] == '-' ? -v : v;
    };
    std::uint64_t seed = 12345;
    for (int n = 0; n < 20000; ++n) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        const int digits = 1 + static_cast<int>((seed >> 33) % 17);
        const int point = static_cast<int>((seed >> 40) % (digits + 1));
        std::string t = (seed >> 50) & 1 ? "-" : "";
        std::uint64_t d = seed;
        for (int k = 0; k < digits; ++k, d = d * 2862933555777941757ULL + 3037000493ULL) {
            if (k == point)
                t += '.';
            t += static_cast<char>('0' + (d >> 60) % 10);
        }
        const double got = LeadingNumber(t);
        const double want = full(t);
        ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << t;
    }
    EXPECT_EQ(LeadingNumber("0.0000000000000000000001"), 1e-22);
    EXPECT_TRUE(std::signbit(LeadingNumber("-0.0")));
    EXPECT_EQ(LeadingNumber("123456789012345.5"), 123456789012345.5);
}

TEST(ParseDeviceNumber, TheDosimetersOwnFormsReadAsTheRuleSays) {
    // The common forms take a shortcut; each must give the very double of the rule: the
    // mantissa read in full, then one multiplication or division by 10 per exponent step.
    const auto rule = [](const std::string& t) {
        const std::size_t e = t.find('E');
        double v = 0;
        const std::string m = t.substr(0, e);
        std::from_chars(m.data() + (m[0] == '-'), m.data() + m.size(), v);
        if (m[0] == '-')
            v = -v;
        if (e == std::string::npos)
            return v;
        for (int k = 0, n = std::stoi(t.substr(e + 2, 2)); k < n; ++k)
            v = t[e + 1] == '+' ? v * 10.0 : v / 10.0;
        return v;
    };
    std::uint64_t seed = 99;
    for (int n = 0; n < 20000; ++n) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        const int digits = 1 + static_cast<int>((seed >> 33) % 16);
        const int point = static_cast<int>((seed >> 40) % (digits + 1));
        std::string t = (seed >> 50) & 1 ? "-" : "";
        std::uint64_t d = seed;
        for (int k = 0; k < digits; ++k, d = d * 2862933555777941757ULL + 3037000493ULL) {
            if (k == point)
                t += '.';
            t += static_cast<char>('0' + (d >> 60) % 10);
        }
        if ((seed >> 52) % 4 != 0) {
            const int exponent = static_cast<int>((seed >> 20) % 100);
            t += (seed >> 55) & 1 ? "E+" : "E-";
            t += static_cast<char>('0' + exponent / 10);
            t += static_cast<char>('0' + exponent % 10);
        }
        const double got = ParseDeviceNumber(t);
        const double want = rule(t);
        ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << t;
    }
}

TEST(LeadingInteger, LikeAtol) {
    EXPECT_EQ(LeadingInteger(" 42x"), 42);
    EXPECT_EQ(LeadingInteger("-17"), -17);
    EXPECT_EQ(LeadingInteger("+3"), 3);
    EXPECT_EQ(LeadingInteger("x1"), 0);
    EXPECT_EQ(LeadingInteger(""), 0);
    EXPECT_EQ(LeadingInteger("60.9"), 60);
    EXPECT_EQ(LeadingInteger("99999999999999999999999"), std::numeric_limits<long long>::max());
    EXPECT_EQ(LeadingInteger("-99999999999999999999999"), std::numeric_limits<long long>::min());
}

TEST(ParseNumberText, PlainFormTakesOnlyWhatAUserOrACommandFileWrites) {
    EXPECT_EQ(ParseNumberText(" +1.5E-03\t", NumberForm::Plain), 0.0015);
    EXPECT_EQ(ParseNumberText("-.5", NumberForm::Plain), -0.5);
    EXPECT_EQ(ParseNumberText("5.e1", NumberForm::Plain), 50.0);
    for (const char* bad : {"", " ", "+-5", "-+5", "++5", "+", "-", ".", "e5", "1e", "1e+", "inf", "nan",
                            "0x10", "1.5x", "1,5", "1e999", "1e-400", "\n5", "5 5"})
        EXPECT_EQ(ParseNumberText(bad, NumberForm::Plain), std::nullopt) << bad;
    // What the C form takes besides: any leading white space, inf and nan; still nothing after.
    EXPECT_EQ(ParseNumberText("\n5"), 5.0);
    EXPECT_EQ(ParseNumberText("-inf"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(ParseNumberText("5 "), std::nullopt);
}

// The window and the PDF writer run under the user's locale (Qt sets it): a Russian one
// writes "1,5" and reads "0.5" as 0. Numbers written and read here must not care.
TEST(NumbersUnderARussianLocale, ReadAndWrittenAsInTheCLocale) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "ru_RU.UTF-8"))
        GTEST_SKIP() << "no ru_RU.UTF-8 locale (scripts/install-deps.sh makes it)";
    char printed[32];
    std::snprintf(printed, sizeof printed, "%.1f", 1.5);
    const std::string localPrinted = printed;
    const std::optional<double> half = ParseNumberText("0.0045");
    const std::optional<double> signedBlank = ParseNumberText(" +2.5e-3");
    const std::optional<double> comma = ParseNumberText("0,5");
    const std::string texts[] = {CNumberText(1.5, 'f', 1), CNumberText(1e99, 'E', 3), CNumberText(0.0023, 'g', 12),
                                 FormatDose(123.45, Language::English), FormatDose(2e6, Language::English), FormatDoseReadout(2.7e-9, Language::English)};
    const double rounded = RoundToSignificantDigits(0.0022999999999999996, 12);
    std::setlocale(LC_ALL, before.c_str());

    ASSERT_EQ(localPrinted, "1,5") << "the locale did not take";
    EXPECT_EQ(half, 0.0045);
    EXPECT_EQ(signedBlank, 0.0025);
    EXPECT_EQ(comma, std::nullopt);
    EXPECT_EQ(texts[0], "1.5");
    EXPECT_EQ(texts[1], "1.000E+99");
    EXPECT_EQ(texts[2], "0.0023");
    EXPECT_EQ(texts[3], "123.5 Sv");
    EXPECT_EQ(texts[4], "2.000E+06 Sv");
    EXPECT_EQ(texts[5], "0.0027 mkSv");
    EXPECT_EQ(rounded, 0.0023);
    for (const char* bad : {"", " ", "1.5x", "1e999", "--1", "+-1", "+"})
        EXPECT_EQ(ParseNumberText(bad), std::nullopt) << bad;
}

} // namespace
} // namespace dm
