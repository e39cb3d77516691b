#include "charts/chart_data.h"

#include "core/numbers.h"

#include <algorithm>
#include <cmath>

namespace dm {
namespace {

double ReadCell(const HistoryTable& table, int row, int col) {
    const double v = ParseDeviceNumber(table.text(row, col));
    return std::isfinite(v) ? v : 0.0; // an overflowing number would spoil every scale
}

} // namespace

ChartLoadResult LoadChartData(ChartModel& chart, const HistoryTable& dose, const HistoryTable& neutron,
                              bool neutronModel, double historyInterval, double historyDepth) {
    ChartLoadResult result;
    chart.m_bNeutron = neutronModel;
    std::fill(chart.m_adDose.begin(), chart.m_adDose.end(), 0.0);
    std::fill(chart.m_aNeutron.begin(), chart.m_aNeutron.end(), NeutronPoint{});
    if (neutronModel) {
        result.neutronRows = std::max(0, neutron.rowCount() - 1);
        const int n = std::min(result.neutronRows, kChartRecords);
        for (int r = 1; r <= n; ++r)
            chart.m_aNeutron[static_cast<std::size_t>(r - 1)] = {ReadCell(neutron, r, 1), ReadCell(neutron, r, 4)};
    }
    result.doseRows = std::max(0, dose.rowCount() - 1);
    const int n = std::min(result.doseRows, kChartRecords);
    for (int r = 1; r <= n; ++r)
        chart.m_adDose[static_cast<std::size_t>(r - 1)] = ReadCell(dose, r, 1);
    if (historyInterval > 0.0) {
        chart.m_dStep = historyInterval;
        chart.m_dDepth = historyDepth;
    } else {
        chart.m_dStep = 1.0;
        chart.m_dDepth = 1.0;
    }
    chart.dataChanged();
    return result;
}

std::string TruncationNotice(const ChartLoadResult& result, int langBase) {
    if (!result.truncated())
        return {};
    const bool russian = langBase != 0;
    const int total = std::max(result.doseRows, result.neutronRows);
    const std::string shown = std::to_string(kChartRecords), all = std::to_string(total);
    return russian ? "Показаны первые " + shown + " из " + all + " записей истории"
                   : "Showing the first " + shown + " of " + all + " history records";
}

std::optional<double> ZoomFromScaleText(const std::string& text) {
    const long long v = CLong(text);
    if (v > 9)
        return static_cast<double>(v) / 110.0;
    return std::nullopt;
}

std::optional<std::string> SteppedScaleText(const std::string& text, int step) {
    const long long v = std::min(CLong(text), 1000000000LL) + step;
    if (v < 10 || v > kScaleMax)
        return std::nullopt;
    return std::to_string(v);
}

} // namespace dm
