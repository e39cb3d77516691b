#include "core/format.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace dm {
namespace {

TEST(FormatDose, UnitBandsAndTrimming) {
    EXPECT_EQ(FormatDose(0.0000123, Language::English), "12.3 mkSv");
    EXPECT_EQ(FormatDose(0.00012, Language::English), "120.0 mkSv");
    EXPECT_EQ(FormatDose(0.0012, Language::English), "1.2 mSv");
    EXPECT_EQ(FormatDose(0.0015, Language::English), "1.5 mSv");
    EXPECT_EQ(FormatDose(5, Language::English), "5.0 Sv");
    EXPECT_EQ(FormatDose(12.34, Language::English), "12.3 Sv");
    EXPECT_EQ(FormatDose(0.00000054321, Language::English), "0.543 mkSv");
    EXPECT_EQ(FormatDose(0.000000054321, Language::English), "0.054 mkSv");
    EXPECT_EQ(FormatDose(0.5, Language::English), "500.0 mSv");
}

TEST(FormatDose, LimitsBelongToTheBandAbove) {
    EXPECT_EQ(FormatDose(0.001, Language::English), "1.0 mSv");
    EXPECT_EQ(FormatDose(1.0, Language::English), "1.0 Sv");
    EXPECT_EQ(FormatDose(0.00000001, Language::English), "0.01 mkSv");
    EXPECT_EQ(FormatDose(10.0, Language::English), "10.0 Sv");
}

TEST(FormatDose, RoundingCarryKeepsTheBand) {
    EXPECT_EQ(FormatDose(0.0999996, Language::English), "100.0 mSv");
    EXPECT_EQ(FormatDose(99.99, Language::English), "100.0 Sv");
}

TEST(FormatDose, TinyZeroAndNegative) {
    EXPECT_EQ(FormatDose(0.000000005, Language::English), "< 0.01 mkSv");
    EXPECT_EQ(FormatDose(0.0, Language::English), "0");
    EXPECT_EQ(FormatDose(-3.0, Language::English), "0");
    EXPECT_EQ(FormatDose(-1e300, Language::English), "0");
}

TEST(FormatDose, HundredSievertAndMore) {
    EXPECT_EQ(FormatDose(100.0, Language::English), "100.0 Sv");
    EXPECT_EQ(FormatDose(123.44, Language::English), "123.4 Sv");
    EXPECT_EQ(FormatDose(999999.94, Language::English), "999999.9 Sv");
}

// Values no dosimeter can hold read as what they are: never "0", never a hundred digits.
TEST(FormatDose, AbsurdValuesShowForWhatTheyAre) {
    const double inf = std::numeric_limits<double>::infinity();
    for (auto format : {&FormatDose, &FormatDoseChart}) {
        EXPECT_EQ(format(1e6, Language::English), "1.000E+06 Sv");
        EXPECT_EQ(format(1e99, Language::English), "1.000E+99 Sv");
        EXPECT_EQ(format(std::numeric_limits<double>::max(), Language::Russian), "1.798E+308 Зв");
        EXPECT_EQ(format(inf, Language::English), "INF Sv");
        EXPECT_EQ(format(-inf, Language::English), "-INF Sv");
        EXPECT_EQ(format(std::nan(""), Language::English), "\u2014");
        EXPECT_EQ(format(-std::nan(""), Language::Russian), "\u2014");
    }
}

TEST(FormatDose, RussianUnits) {
    EXPECT_EQ(FormatDose(0.0000123, Language::Russian), "12.3 мкЗв");
    EXPECT_EQ(FormatDose(0.0012, Language::Russian), "1.2 мЗв");
    EXPECT_EQ(FormatDose(5, Language::Russian), "5.0 Зв");
    EXPECT_EQ(FormatDose(0.000000005, Language::Russian), "< 0.01 мкЗв");
}

// A KRT-17A at background level adds a few thousandths of a mkSv per record: the
// diagram's ticks and read-outs must tell such values apart and never overstate them.
TEST(FormatDoseChart, BackgroundIncrementsAreNeitherOverstatedNorAlike) {
    EXPECT_EQ(FormatDoseReadout(2.7e-9, Language::English), "0.0027 mkSv");
    EXPECT_EQ(FormatDoseReadout(9.99e-9, Language::English), "0.0099 mkSv");
    EXPECT_EQ(FormatDoseReadout(1e-8, Language::English), "0.01 mkSv");
    EXPECT_EQ(FormatDoseReadout(0, Language::English), "0");
    EXPECT_EQ(FormatDoseReadout(3.4e-14, Language::Russian), "0.000000034 мкЗв");
    const double yMax = 3.1e-9, step = yMax / 20;
    std::string previous = FormatDoseTick(0, step, Language::English);
    EXPECT_EQ(previous, "0");
    for (int i = 1; i <= 20; ++i) {
        const std::string label = FormatDoseTick(i * step, step, Language::English);
        EXPECT_NE(label, previous) << i;
        EXPECT_LE(std::stod(label) * 1e-6, i * step) << label;
        previous = label;
    }
    // Ticks a unit step apart or more keep the chart's own texts.
    EXPECT_EQ(FormatDoseTick(0.0005, 0.0001, Language::English), FormatDoseChart(0.0005, Language::English));
}

TEST(FormatDoseChart, BandChosenWithTheSmallAddition) {
    EXPECT_EQ(FormatDoseChart(0.5, Language::English), "500.0 mSv");
    EXPECT_EQ(FormatDoseChart(0.0005, Language::English), "500.0 mkSv");
    EXPECT_EQ(FormatDoseChart(5e-9, Language::English), "< 0.01 mkSv");
    EXPECT_EQ(FormatDoseChart(0, Language::English), "0");
    EXPECT_EQ(FormatDoseChart(0.05, Language::English), "50.0 mSv");
    EXPECT_EQ(FormatDoseChart(5, Language::English), "5.0 Sv");
    EXPECT_EQ(FormatDoseChart(5e-8, Language::English), "0.05 mkSv");
    // Just under a limit: the table stays in the lower band, the chart moves up.
    EXPECT_EQ(FormatDose(0.0009999999995, Language::English), "1000.0 mkSv");
    EXPECT_EQ(FormatDoseChart(0.0009999999995, Language::English), "1.0 mSv");
}

TEST(FormatDuration, Fields) {
    EXPECT_EQ(FormatDuration(0), "00:00:00");
    EXPECT_EQ(FormatDuration(5), "00:00:05");
    EXPECT_EQ(FormatDuration(59), "00:00:59");
    EXPECT_EQ(FormatDuration(61), "00:01:01");
    EXPECT_EQ(FormatDuration(75), "00:01:15");
    EXPECT_EQ(FormatDuration(3599), "00:59:59");
    EXPECT_EQ(FormatDuration(3600), "01:00:00");
    EXPECT_EQ(FormatDuration(3725), "01:02:05");
    EXPECT_EQ(FormatDuration(90061), "25:01:01");
    EXPECT_EQ(FormatDuration(360000), "100:00:00");
}

TEST(FormatDuration, Negative) {
    EXPECT_EQ(FormatDuration(-5), "-00:00:05");
    EXPECT_EQ(FormatDuration(-3725), "-01:02:05");
    EXPECT_EQ(FormatDuration(std::numeric_limits<long long>::min()).substr(0, 2), "-2");
}

} // namespace
} // namespace dm
