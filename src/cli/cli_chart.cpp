// dosimeter-cli chart: the diagram window's chart for an archive reply, as a PNG.
#include "cli/cli_common.h"
#include "cli/commands.h"

#ifdef DM_CLI_WITH_CHARTS
#include "charts/chart_data.h"
#include "charts/chart_render.h"
#include "cli/cli_gui_application.h"
#include "cli/cli_history.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>
#endif

#include <string>

namespace dm::cli {

#ifdef DM_CLI_WITH_CHARTS
namespace {

constexpr const char* kUsage =
    "usage: dosimeter-cli chart ARCHIVE --png OUT [--size WxH] [--diagram dose|increments]\n"
    "              [--neutron] [--scale PERCENT] [--interval S] [--depth N] [--lang en|ru]\n"
    "              [--mouse X,Y] [--offset PIXELS]\n"
    "Renders the diagram window's chart of the archive reply ARCHIVE, W x H pixels\n"
    "(default 775x489), and writes it to OUT as PNG. Default diagram: increments; default\n"
    "scale 100 (10 to 999999). --interval and --depth stand for the parameters\n"
    "history_time (default 1) and history_depth_gma (default 0). --mouse shows the read-out\n"
    "at (X, Y); --offset scrolls the drawing by that many pixels.\n";

constexpr int kMaxSide = 10000;

std::pair<long long, long long> IntegerPair(const std::string& option, const std::string& text, char separator) {
    const std::size_t at = text.find(separator);
    if (at == std::string::npos)
        Fail(kExitUsage, option + ": expected two whole numbers separated by '" + std::string(1, separator) +
                             "', got '" + text + "'");
    return {IntegerOption(option, text.substr(0, at)), IntegerOption(option, text.substr(at + 1))};
}

double FiniteOption(const std::string& option, const std::string& text, double fallback) {
    if (text.empty())
        return fallback;
    const double v = NumberOption(option, text);
    if (!std::isfinite(v))
        Fail(kExitUsage, option + ": expected a finite number, got '" + text + "'");
    return v;
}

} // namespace

int RunChart(const Args& args) {
    Options options("chart", kUsage);
    std::string png, size, diagram, scale, interval, depth, lang, mouse, offset;
    bool neutron = false;
    options.value("--png", &png);
    options.value("--size", &size);
    options.value("--diagram", &diagram);
    options.flag("--neutron", &neutron);
    options.value("--scale", &scale);
    options.value("--interval", &interval);
    options.value("--depth", &depth);
    options.value("--lang", &lang);
    options.value("--mouse", &mouse);
    options.value("--offset", &offset);
    std::vector<std::string> positional;
    if (!options.parse(args, &positional))
        return kExitOk;
    if (positional.size() != 1)
        options.usageError("give exactly one ARCHIVE file");
    if (png.empty())
        options.usageError("--png OUT is required");

    int width = 775, height = 489;
    if (!size.empty()) {
        const auto [w, h] = IntegerPair("--size", size, 'x');
        if (w < 1 || h < 1 || w > kMaxSide || h > kMaxSide)
            Fail(kExitUsage, "--size: each side must be 1 to " + std::to_string(kMaxSide) + " pixels, got '" +
                                 size + "'");
        width = static_cast<int>(w);
        height = static_cast<int>(h);
    }
    if (!diagram.empty() && diagram != "dose" && diagram != "increments")
        Fail(kExitUsage, "--diagram: expected dose or increments, got '" + diagram + "'");
    long long percent = 100;
    if (!scale.empty()) {
        percent = IntegerOption("--scale", scale);
        if (percent < 10 || percent > kScaleMax)
            Fail(kExitUsage, "--scale: expected 10 to " + std::to_string(kScaleMax) + " percent, got '" + scale +
                                 "' (the window ignores scales below 10)");
    }
    const double historyInterval = FiniteOption("--interval", interval, 1.0);
    const double historyDepth = FiniteOption("--depth", depth, 0.0);
    const Language language = LanguageFromOption(lang);
    std::optional<std::pair<long long, long long>> mousePos;
    if (!mouse.empty()) {
        mousePos = IntegerPair("--mouse", mouse, ',');
        if (std::llabs(mousePos->first) > 1000000 || std::llabs(mousePos->second) > 1000000)
            Fail(kExitUsage, "--mouse: coordinates out of range, got '" + mouse + "'");
    }
    long long offsetPixels = 0;
    if (!offset.empty()) {
        offsetPixels = IntegerOption("--offset", offset);
        if (std::llabs(offsetPixels) > 100000000)
            Fail(kExitUsage, "--offset: out of range, got '" + offset + "'");
    }

    const DoseArchive archive = ParseArchiveOrFail(ReadReplyInput(positional[0]), historyInterval, positional[0]);

    const auto app = MakeGuiApplication();
    auto chart = std::make_unique<ChartModel>(language);
    LoadChartData(*chart, archive, historyInterval, historyDepth);
    chart->setClientSize(width, height);
    chart->setReadoutCharWidth(ChartFontCharWidth());

    if (neutron && !MeasuresNeutron(archive.model())) {
        neutron = false;
        std::fputs("dosimeter-cli: --neutron ignored: the archive has no neutron section\n", stderr);
    }
    chart->setDiagram(diagram == "dose" ? ChartDiagram::Dose : ChartDiagram::Increments, neutron);
    chart->setZoom(*ZoomFromScaleText(std::to_string(percent)));
    chart->setOffset(static_cast<int>(offsetPixels));
    if (mousePos)
        chart->mouseMove(static_cast<int>(mousePos->first), static_cast<int>(mousePos->second));
    const QImage image = RenderChartImage(*chart);
    std::string error;
    if (!WriteChartPng(image, png, &error))
        Fail(kExitFailed, "cannot write PNG file " + png + ": " + error);
    return kExitOk;
}

#else

int RunChart(const Args&) {
    Fail(kExitFailed, "chart: this build has no Qt parts (configured with DM_BUILD_GUI=OFF)");
}

#endif

} // namespace dm::cli
