// Taking the chart's data out of the history tables, and the scale box's rules.
#include "charts/chart_data.h"

#include <gtest/gtest.h>

#include <memory>

using namespace dm;

namespace {

HistoryTable Table(int rows, int cols) {
    HistoryTable t;
    t.setColCount(cols);
    t.setRowCount(rows);
    return t;
}

} // namespace

TEST(ChartData, NeutronModelReadsHiddenColumnsOfBothTables) {
    HistoryTable dose = Table(3, 4), neutron = Table(3, 6);
    dose.setText(1, 1, "1.5E-06");
    dose.setText(2, 1, "2.5E-06");
    dose.setText(1, 2, "999 mSv"); // the shown column is not read
    neutron.setText(1, 1, "3.0E-07");
    neutron.setText(1, 4, "60");
    neutron.setText(2, 1, "4.0E-07");
    neutron.setText(2, 4, "120");
    auto chart = std::make_unique<ChartModel>(0);
    const ChartLoadResult r = LoadChartData(*chart, dose, neutron, true, 60, 100);
    EXPECT_EQ(r.doseRows, 2);
    EXPECT_EQ(r.neutronRows, 2);
    EXPECT_FALSE(r.truncated());
    EXPECT_TRUE(chart->m_bNeutron);
    EXPECT_DOUBLE_EQ(chart->m_adDose[0], 1.5e-6);
    EXPECT_DOUBLE_EQ(chart->m_adDose[1], 2.5e-6);
    EXPECT_DOUBLE_EQ(chart->m_adDose[2], 0.0);
    EXPECT_DOUBLE_EQ(chart->m_aNeutron[1].value, 4e-7);
    EXPECT_DOUBLE_EQ(chart->m_aNeutron[1].time, 120);
    EXPECT_DOUBLE_EQ(chart->m_aNeutron[2].time, 0.0);
    EXPECT_DOUBLE_EQ(chart->m_dStep, 60);
    EXPECT_DOUBLE_EQ(chart->m_dDepth, 100);
}

TEST(ChartData, GammaModelIgnoresTheNeutronTableAndIntervalZeroGivesOnes) {
    HistoryTable dose = Table(2, 2), neutron = Table(2, 6);
    dose.setText(1, 1, "7");
    neutron.setText(1, 1, "1");
    neutron.setText(1, 4, "5");
    auto chart = std::make_unique<ChartModel>(0);
    const ChartLoadResult r = LoadChartData(*chart, dose, neutron, false, 0, 50);
    EXPECT_EQ(r.neutronRows, 0);
    EXPECT_FALSE(chart->m_bNeutron);
    EXPECT_DOUBLE_EQ(chart->m_aNeutron[0].time, 0.0);
    EXPECT_DOUBLE_EQ(chart->m_adDose[0], 7);
    EXPECT_DOUBLE_EQ(chart->m_dStep, 1.0);
    EXPECT_DOUBLE_EQ(chart->m_dDepth, 1.0);
    // Empty tables (an archive without records) load as an empty history.
    const ChartLoadResult empty = LoadChartData(*chart, HistoryTable{}, HistoryTable{}, true, -5, 3);
    EXPECT_EQ(empty.doseRows, 0);
    EXPECT_DOUBLE_EQ(chart->m_adDose[0], 0.0);
}

TEST(ChartData, LongHistoryKeepsTheFirstRecordsAndSaysSo) {
    HistoryTable dose = Table(kChartRecords + 2, 2);
    for (int r = 1; r <= kChartRecords + 1; ++r)
        dose.setText(r, 1, std::to_string(r));
    auto chart = std::make_unique<ChartModel>(0);
    const ChartLoadResult r = LoadChartData(*chart, dose, HistoryTable{}, false, 1, 0);
    EXPECT_EQ(r.doseRows, kChartRecords + 1);
    EXPECT_TRUE(r.truncated());
    EXPECT_DOUBLE_EQ(chart->m_adDose[kChartRecords - 1], kChartRecords);
    EXPECT_EQ(TruncationNotice(r, 0), "Showing the first 10000 of 10001 history records");
    EXPECT_FALSE(TruncationNotice(r, 300).empty());
    EXPECT_TRUE(TruncationNotice(ChartLoadResult{}, 0).empty());
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
