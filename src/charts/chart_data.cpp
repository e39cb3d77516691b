#include "charts/chart_data.h"

#include "core/numbers.h"
#include "core/string_table.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace dm {
namespace {

double Finite(double v) { return std::isfinite(v) ? v : 0.0; } // an overflowing number would spoil every scale

int ClampCount(std::size_t n) {
    constexpr std::size_t kMax = static_cast<std::size_t>(std::numeric_limits<int>::max());
    return static_cast<int>(n > kMax ? kMax : n);
}

} // namespace

ChartLoadResult LoadChartData(ChartModel& chart, const DoseArchive& archive, double historyInterval,
                              double historyDepth) {
    ChartLoadResult result;
    ChartHistory history;
    history.model = archive.model();
    if (MeasuresNeutron(archive.model())) {
        result.neutronRows = ClampCount(archive.neutron().size());
        const int n = std::min(result.neutronRows, kChartRecords);
        history.neutron.reserve(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) {
            const NeutronDoseRecord& r = archive.neutron()[static_cast<std::size_t>(i)];
            history.neutron.push_back({Finite(r.sv), static_cast<double>(r.seconds)});
        }
    }
    result.doseRows = ClampCount(archive.gamma().size());
    const int n = std::min(result.doseRows, kChartRecords);
    history.doses.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        history.doses.push_back(Finite(archive.gamma()[static_cast<std::size_t>(i)].sv));
    if (historyInterval > 0.0) {
        history.step = historyInterval;
        history.depth = historyDepth;
    } else {
        history.step = 1.0;
        history.depth = 1.0;
    }
    chart.setHistory(history);
    return result;
}

std::string TruncationNotice(const ChartLoadResult& result, Language language) {
    if (!result.truncated())
        return {};
    const int total = std::max(result.doseRows, result.neutronRows);
    return FillIn(Tr(IDS_CHART_TRUNCATED, language), {std::to_string(kChartRecords), std::to_string(total)});
}

std::optional<double> ZoomFromScaleText(const std::string& text) {
    const long long v = LeadingInteger(text);
    if (v > 9)
        return static_cast<double>(v) / 110.0;
    return std::nullopt;
}

std::optional<std::string> SteppedScaleText(const std::string& text, int step) {
    const long long v = std::min(LeadingInteger(text), 1000000000LL) + step;
    if (v < 10 || v > kScaleMax)
        return std::nullopt;
    return std::to_string(v);
}

} // namespace dm
