// Chart painting: a full history taken and painted against the empty chart, and the
// read-out's partial repaint against a full paint.
#include "charts/chart_model.h"
#include "charts/chart_render.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include <cmath>
#include <memory>

namespace {

constexpr int kWidth = 775, kHeight = 489;

void EnsureApp() {
    // Kept to the end of the process: destroying it after main would outlive Qt's own
    // globals.
    static QGuiApplication* app = nullptr;
    if (app)
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "charts_bench";
    static char* argv[] = {name, nullptr};
    app = new QGuiApplication(argc, argv);
}

// Ten thousand records a minute apart, or none.
dm::ChartHistory History(bool full) {
    dm::ChartHistory history;
    history.step = 60;
    history.depth = 10000;
    if (full) {
        history.model = dm::Model::Krt17a;
        double dose = 0, neutron = 0;
        for (int i = 0; i < dm::kChartRecords; ++i) {
            dose += 1e-6 * (1.0 + 0.8 * std::sin(i * 0.01));
            neutron += 2e-7 * (1 + i % 7);
            history.doses.push_back(dose);
            history.neutron.push_back({neutron, 60.0 * (i + 1)});
        }
    }
    return history;
}

std::unique_ptr<dm::ChartModel> MakeChart(dm::ChartDiagram diagram, bool neutron) {
    auto chart = std::make_unique<dm::ChartModel>(dm::Language::English);
    chart->setClientSize(kWidth, kHeight);
    chart->setReadoutCharWidth(dm::ChartFontCharWidth());
    chart->setZoom(100.0 / 110.0);
    chart->setDiagram(diagram, neutron);
    return chart;
}

// Each iteration gives a fresh chart its history and paints it, so the increments and the
// statistics are worked out as at the window's opening.
void FirstPaint(benchmark::State& state, bool full, dm::ChartDiagram diagram, bool neutron) {
    EnsureApp();
    const dm::ChartHistory history = History(full);
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        state.PauseTiming();
        auto chart = MakeChart(diagram, neutron);
        state.ResumeTiming();
        chart->setHistory(history);
        QPainter painter(&image);
        dm::RenderChart(painter, *chart);
    }
}

// The window opens on the increments diagram without the neutron component.
void BM_FirstPaintEmpty(benchmark::State& s) { FirstPaint(s, false, dm::ChartDiagram::Increments, false); }
void BM_FirstPaintFull(benchmark::State& s) { FirstPaint(s, true, dm::ChartDiagram::Increments, false); }
// The heavier views, for comparison: every record drawn twice over.
void BM_FirstPaintFullIncrementsNeutron(benchmark::State& s) {
    FirstPaint(s, true, dm::ChartDiagram::Increments, true);
}
void BM_FirstPaintFullDoseNeutron(benchmark::State& s) { FirstPaint(s, true, dm::ChartDiagram::Dose, true); }

void BM_FullPaint(benchmark::State& state) {
    EnsureApp();
    auto chart = MakeChart(dm::ChartDiagram::Dose, true);
    chart->setHistory(History(true));
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    chart->mouseMove(400, 200);
    for (auto _ : state) {
        QPainter painter(&image);
        dm::RenderChart(painter, *chart);
    }
}

// What a mouse move costs: the area around the old and the new box, composed from the
// kept chart and the box.
void BM_ReadoutRepaint(benchmark::State& state) {
    EnsureApp();
    auto chart = MakeChart(dm::ChartDiagram::Dose, true);
    chart->setHistory(History(true));
    QImage base(kWidth, kHeight, QImage::Format_RGB32), screen(kWidth, kHeight, QImage::Format_RGB32);
    {
        QPainter painter(&base);
        dm::RenderChartBase(painter, *chart);
    }
    int x = 300;
    for (auto _ : state) {
        x = x == 300 ? 310 : 300;
        chart->setClientSize(kWidth, kHeight); // as the view does at every paint
        const dm::ReadoutChange change = chart->mouseMove(x, 200);
        const QRect area(QPoint(change.area.left, change.area.top),
                         QPoint(change.area.right - 1, change.area.bottom - 1));
        dm::ComposeChart(screen, base, *chart, QRegion(area));
    }
}

} // namespace

BENCHMARK(BM_FirstPaintEmpty)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FirstPaintFull)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FirstPaintFullIncrementsNeutron)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FirstPaintFullDoseNeutron)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FullPaint)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadoutRepaint)->Unit(benchmark::kMicrosecond);
