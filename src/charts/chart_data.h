#pragma once
// What the diagram window does around the chart: it takes the history out of the
// history tables' hidden columns, and turns the scale box's text into a zoom.
#include "charts/chart_model.h"
#include "history/history_table.h"

#include <optional>
#include <string>

namespace dm {

struct ChartLoadResult {
    int doseRows = 0;     // data rows of the dose table (the chart shows at most kChartRecords)
    int neutronRows = 0;  // data rows of the neutron table taken (0 for a gamma-only model)
    bool truncated() const { return doseRows > kChartRecords || neutronRows > kChartRecords; }
};

// Fills the chart from the tables as the window does when it opens: neutron records from
// columns 1 (value) and 4 (time) of the neutron table when the model has a neutron
// channel, doses from column 1 of the dose table, both read as the dosimeter writes
// numbers; step and depth from the history interval and depth, both 1.0 when the
// interval is not above 0. Rows beyond the chart's capacity are left out.
ChartLoadResult LoadChartData(ChartModel& chart, const HistoryTable& dose, const HistoryTable& neutron,
                              bool neutronModel, double historyInterval, double historyDepth);

// The window's note when rows were left out; empty when all fit.
std::string TruncationNotice(const ChartLoadResult& result, int langBase);

// The scale box's rule: a text whose number is above 9 gives the zoom (percent / 110);
// anything else (empty, 0 to 9) changes nothing.
std::optional<double> ZoomFromScaleText(const std::string& text);

// The up-down arrows: the scale text stepped by step percent, or nothing when that would
// go below 10.
std::optional<std::string> SteppedScaleText(const std::string& text, int step);

// The scale box takes at most six digits; the arrows stop at the largest such scale.
constexpr int kScaleDigits = 6;
constexpr long long kScaleMax = 999999;

} // namespace dm
