// Taking the chart's data from the dose archive, and the scale box's rules.
#include "charts/chart_data.h"

#include "archive_reply.h"

#include <gtest/gtest.h>

#include <memory>

using namespace dm;

TEST(ChartData, NeutronModelTakesBothRecordKinds) {
    // An unreadable dose and one too large for a double count as 0.
    const DoseArchive archive = ParseDoseArchive(
        "h\r\r\n 1.5E-06\r\r\n2.5E-06\r\r\nabc\r\r\n1e999\r\r\n"
        "3.0E-07\t1.0\t 60\r\r\n4.0E-07\t1.1\t 120\r\r\n", 60);
    auto chart = std::make_unique<ChartModel>(Language::English);
    const ChartLoadResult r = LoadChartData(*chart, archive, 60, 100);
    EXPECT_EQ(r.doseRows, 4);
    EXPECT_EQ(r.neutronRows, 2);
    EXPECT_FALSE(r.truncated());
    EXPECT_EQ(chart->model(), Model::Krt17a);
    EXPECT_DOUBLE_EQ(chart->doses()[0], 1.5e-6);
    EXPECT_DOUBLE_EQ(chart->doses()[1], 2.5e-6);
    EXPECT_DOUBLE_EQ(chart->doses()[2], 0.0);
    EXPECT_DOUBLE_EQ(chart->doses()[3], 0.0);
    EXPECT_DOUBLE_EQ(chart->neutron()[1].value, 4e-7);
    EXPECT_DOUBLE_EQ(chart->neutron()[1].time, 120);
    EXPECT_DOUBLE_EQ(chart->neutron()[2].time, 0.0);
    EXPECT_DOUBLE_EQ(chart->step(), 60);
    EXPECT_DOUBLE_EQ(chart->depth(), 100);

    // A gamma-only archive after it leaves no neutron point behind; interval 0 gives ones.
    const ChartLoadResult gamma = LoadChartData(*chart, ArchiveOf(3, 0), 0, 50);
    EXPECT_EQ(gamma.neutronRows, 0);
    EXPECT_EQ(chart->model(), Model::Mlv52b);
    EXPECT_DOUBLE_EQ(chart->neutron()[0].time, 0.0);
    EXPECT_DOUBLE_EQ(chart->doses()[2], 3e-6);
    EXPECT_DOUBLE_EQ(chart->step(), 1.0);
    EXPECT_DOUBLE_EQ(chart->depth(), 1.0);
    // No archive read yet: an empty history.
    const ChartLoadResult empty = LoadChartData(*chart, DoseArchive{}, -5, 3);
    EXPECT_EQ(empty.doseRows, 0);
    EXPECT_DOUBLE_EQ(chart->doses()[0], 0.0);
}

TEST(ChartData, LongHistoryKeepsTheFirstRecordsAndSaysSo) {
    auto chart = std::make_unique<ChartModel>(Language::English);
    const ChartLoadResult r = LoadChartData(*chart, ArchiveOf(kChartRecords + 1, 0), 1, 0);
    EXPECT_EQ(r.doseRows, kChartRecords + 1);
    EXPECT_TRUE(r.truncated());
    EXPECT_NEAR(chart->doses()[kChartRecords - 1], kChartRecords * 1e-6, 1e-15);
    EXPECT_EQ(TruncationNotice(r, Language::English), "Showing the first 10000 of 10001 history records");
    EXPECT_FALSE(TruncationNotice(r, Language::Russian).empty());
    EXPECT_TRUE(TruncationNotice(ChartLoadResult{}, Language::English).empty());
}

TEST(ChartData, ScaleTextRule) {
    EXPECT_FALSE(ZoomFromScaleText(""));
    EXPECT_FALSE(ZoomFromScaleText("9"));
    EXPECT_FALSE(ZoomFromScaleText("0"));
    EXPECT_DOUBLE_EQ(*ZoomFromScaleText("10"), 10.0 / 110);
    EXPECT_DOUBLE_EQ(*ZoomFromScaleText("200"), 200.0 / 110);
}

TEST(ChartData, ArrowsStepByOneAndNeverBelowTen) {
    EXPECT_EQ(*SteppedScaleText("100", 1), "101");
    EXPECT_EQ(*SteppedScaleText("100", -1), "99");
    EXPECT_FALSE(SteppedScaleText("10", -1));
    EXPECT_FALSE(SteppedScaleText("", 1));
    EXPECT_EQ(*SteppedScaleText("9", 1), "10");
    EXPECT_FALSE(SteppedScaleText("999999", 1));
    EXPECT_FALSE(SteppedScaleText("99999999999999999999999", 1));
}
