#pragma once
// The dose chart without a window: its data tables, the increments, statistics and scales
// worked out as soon as their inputs are set, the mapping of doses and times to pixels,
// the column table the read-out reads, the read-out box and the horizontal scroll state.
// Painting goes through ChartCanvas, so the same steps draw on screen, into a PNG and into
// a test recorder.
#include "charts/chart_canvas.h"
#include "core/language.h"
#include "core/model.h"

#include <string>
#include <vector>

namespace dm {

// The two diagrams of the chart.
enum class ChartDiagram {
    Increments, // dose growth per recording interval, as bars
    Dose,       // accumulated dose over time
};

constexpr int kChartRecords = 10000; // dose records and neutron records the chart holds
constexpr int kChartColumns = 2000;  // pixel columns recorded for the read-out (more when wider)
constexpr int kPlotLeft = 110;       // x of the value axis
constexpr int kPlotBottomMargin = 40;

struct NeutronPoint {
    double value = 0.0; // Sv
    double time = 0.0;  // seconds from measurement start; 0 ends the list
};

// The history the chart draws.
struct ChartHistory {
    Model model = Model::Mlv52b; // a KRT-17A has a neutron channel: the legend says "mixed"
    double step = 1.0;         // seconds between dose records
    double depth = 0.0;        // records the dosimeter keeps: the time axis of an empty history
    // Sv, one a step; records beyond kChartRecords are left out.
    std::vector<double> doses{};
    // Sv at seconds from the start, in time order; likewise.
    std::vector<NeutronPoint> neutron{};
};

// What one pixel column shows; -1.0 means nothing there.
struct ChartColumn {
    double neutron = 0.0;
    double dose = 0.0;
    double neutronInc = 0.0;
    double doseInc = 0.0;
    double neutronTime = 0.0;
    double doseTime = 0.0;
};

struct ChartIncrement {
    double neutronInc = 0.0;
    double neutronTime = 0.0;
    double doseInc = 0.0;
};

struct ChartStatistics {
    double doseMax = 0.0;
    double doseIncMax = 0.0;
    double neutronMax = 0.0;
    double neutronIncMax = 0.0;
    int neutronTimeMax = 0; // whole seconds
    int lastDoseIndex = 0;  // last record whose dose is not 0; 0 when there is none
    int doseSpan = 0;       // whole seconds covered by the dose records (or by the depth)
};

struct ChartRect {
    int left = -1, top = -1, right = -1, bottom = -1;
    bool none() const { return right == -1; }
    friend bool operator==(const ChartRect&, const ChartRect&) = default;
};

// The horizontal scroll bar as the chart keeps it: a position always lies inside
// min .. max - page + 1, as a platform scroll bar keeps it.
struct ScrollBarState {
    int min = 0, max = 0, page = 0, pos = 0, trackPos = 0;
    int maxPos() const;
    void setPos(int position); // limited to the range
};

enum class ScrollRequest { LineLeft, LineRight, PageLeft, PageRight, ThumbTrack, ThumbPosition, Left, Right, EndScroll };

// What a mouse move asks to repaint.
struct ReadoutChange {
    bool repaint = false; // false: the move was ignored
    bool whole = false;   // repaint the whole control
    ChartRect area;       // otherwise this area (right and bottom exclusive)
};

class ChartModel {
public:
    explicit ChartModel(Language language);

    Language language() const { return language_; }

    // Takes the history and works out its increments and statistics; the drawing scrolls
    // back to its start.
    void setHistory(const ChartHistory& history);
    Model model() const { return model_; }
    double step() const { return step_; }
    double depth() const { return depth_; }
    const std::vector<double>& doses() const { return doses_; }          // kChartRecords entries
    const std::vector<NeutronPoint>& neutron() const { return neutron_; } // kChartRecords entries

    // What is drawn: one of the diagrams, with or without the neutron component.
    void setDiagram(ChartDiagram diagram, bool neutronShown = false);
    void setNeutronShown(bool shown) { setDiagram(diagram_, shown); }
    ChartDiagram diagram() const { return diagram_; }
    bool neutronShown() const { return neutronShown_; }
    // Time-axis zoom: 1.0 fits the history to the plot width.
    void setZoom(double zoom);
    double zoom() const { return zoom_; }
    // Pixels the drawing is scrolled to the left.
    void setOffset(int pixels);
    int offset() const { return offset_; }

    // The control's client size; the scroll bar's page is the plot's width.
    void setClientSize(int width, int height);
    int width() const { return width_; }
    int height() const { return height_; }

    // Paint steps 1 to 9 (everything but the read-out box), then the read-out box.
    void paintChart(ChartCanvas& canvas);
    void paintReadout(ChartCanvas& canvas);
    void paint(ChartCanvas& canvas) {
        paintChart(canvas);
        paintReadout(canvas);
    }

    ReadoutChange mouseMove(int x, int y);
    // The cursor left the chart: no box any more. True when one was shown.
    bool hideReadout();
    // Pixels per character of the chart font (8 unless the font says otherwise), used to
    // right-align the value labels and to size the read-out box.
    void setReadoutCharWidth(int pixels) { charWidth_ = pixels > 0 ? pixels : 8; }

    void scrollReset();
    // Returns true when the drawing moved and the chart must be repainted.
    bool scroll(ScrollRequest request, int trackPos = 0);
    const ScrollBarState& scrollState() const { return scroll_; }

    // Prepared state, for the read-out, the window and tests. The column table records
    // what the last paint drew (or would draw, when a read-out was asked before it).
    const std::vector<ChartColumn>& columns() const { return columns_; }
    const std::vector<ChartIncrement>& increments() const { return increments_; }
    const ChartStatistics& statistics() const { return stats_; }
    double yMax() const { return yMax_; }
    int xRange() const { return xRange_; }
    const std::string& readoutText() const { return readoutText_; }
    const ChartRect& readoutRect() const { return readoutRect_; }

    // The row of a value on the value axis.
    int yOf(double value) const;

private:
    void computeIncrements();
    void computeStatistics();
    void computeScales();
    void widenRanges(double doseTop, double neutronTop, bool neutron);
    void paintValueLabels(ChartCanvas& canvas);
    void paintDoseLine(ChartCanvas& canvas);
    void paintNeutronLine(ChartCanvas& canvas);
    void paintDoseBars(ChartCanvas& canvas);
    void paintNeutronBars(ChartCanvas& canvas);
    void paintTimeLabels(ChartCanvas& canvas);
    double columnTime(int x) const; // time at pixel column x by the axis scale
    std::string readoutTextAt(int x) const;
    ReadoutChange placeReadout(int x, int y, const std::string& text);
    void ensureColumns(int width);
    int neutronCount() const;

    Language language_ = Language::English;
    Model model_ = Model::Mlv52b;
    double step_ = 1.0;
    double depth_ = 0.0;
    std::vector<double> doses_;
    std::vector<NeutronPoint> neutron_;
    ChartDiagram diagram_ = ChartDiagram::Increments;
    bool neutronShown_ = false;
    double zoom_ = 1.0;
    int offset_ = 0;
    int width_ = 0;
    int height_ = 0;
    double yMax_ = 0.0;
    int xRange_ = 0;
    double yscale_ = 0.0;
    double xscale_ = 0.0;
    ChartStatistics stats_;
    std::vector<ChartColumn> columns_;
    std::vector<ChartIncrement> increments_;
    bool columnsStale_ = true; // an input changed since the column table was filled
    ScrollBarState scroll_;
    std::string readoutText_;
    ChartRect readoutRect_;
    int readoutX_ = 0, readoutY_ = 0; // the cursor the box was made for
    int charWidth_ = 8;
    std::vector<ChartPoint> polyline_; // reused by every paint
    std::vector<int> barTops_;         // reused by every paint
};

} // namespace dm
