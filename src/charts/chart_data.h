#pragma once
// What the diagram window does around the chart: it takes the history from the dose
// archive, and turns the scale box's text into a zoom.
#include "charts/chart_model.h"
#include "core/language.h"
#include "history/dose_archive.h"

#include <optional>
#include <string>

namespace dm {

struct ChartLoadResult {
    int doseRows = 0;     // gamma records (the chart shows at most kChartRecords)
    int neutronRows = 0;  // neutron records taken (0 for a gamma-only model)
    bool truncated() const { return doseRows > kChartRecords || neutronRows > kChartRecords; }
};

// Fills the chart from the archive as the window does when it opens: neutron doses and
// times when the model has a neutron channel, gamma doses; a dose that is not finite
// counts as 0. Step and depth come from the history interval and depth, both 1.0 when the
// interval is not above 0. Records beyond the chart's capacity are left out.
ChartLoadResult LoadChartData(ChartModel& chart, const DoseArchive& archive, double historyInterval,
                              double historyDepth);

// The window's note when rows were left out; empty when all fit.
std::string TruncationNotice(const ChartLoadResult& result, Language language);

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
