#pragma once
// The dose chart without a window: its data tables, the increments and statistics worked
// out at the first paint, the mapping of doses and times to pixels, the column table the
// read-out reads, the read-out box and the horizontal scroll state. Painting goes through
// ChartCanvas, so the same steps draw on screen, into a PNG and into a test recorder.
#include "charts/chart_canvas.h"

#include <string>
#include <vector>

namespace dm {

// Display flags of the chart.
constexpr int GF_DOSE = 1;       // accumulated dose over time
constexpr int GF_INCREMENTS = 2; // dose growth per recording interval, as bars
constexpr int GF_NEUTRON = 4;    // neutron component shown as well

constexpr int kChartRecords = 10000; // dose records and neutron records the chart holds
constexpr int kChartColumns = 2000;  // pixel columns recorded for the read-out (more when wider)
constexpr int kPlotLeft = 110;       // x of the value axis
constexpr int kPlotBottomMargin = 40;

struct NeutronPoint {
    double value = 0.0; // Sv
    double time = 0.0;  // seconds from measurement start; 0 ends the list
};

// What one pixel column shows; -1.0 means nothing there.
struct ChartColumn {
    double dNeutron = 0.0;
    double dDose = 0.0;
    double dNeutronInc = 0.0;
    double dDoseInc = 0.0;
    double dNeutronTime = 0.0;
    double dDoseTime = 0.0;
};

struct ChartIncrement {
    double dNeutronInc = 0.0;
    double dNeutronTime = 0.0;
    double dDoseInc = 0.0;
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
    explicit ChartModel(int langBase);

    // Filled by the diagram window before the first paint.
    bool m_bNeutron = false;
    int m_nLangBase = 0;
    int m_nOffset = 0;
    double m_dZoom = 1.0;
    double m_dStep = 1.0;
    double m_dDepth = 0.0;
    std::vector<double> m_adDose;         // kChartRecords entries
    std::vector<NeutronPoint> m_aNeutron; // kChartRecords entries
    int m_nFlags = 0;

    // New data: the next paint works out the increments and statistics again.
    void dataChanged() { m_bFirstPaint = true; }

    // The control's client size; taken afresh at every use.
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

    // Prepared state, for the read-out, the window and tests.
    bool firstPaintPending() const { return m_bFirstPaint; }
    const std::vector<ChartColumn>& columns() const { return m_aColumns; }
    const std::vector<ChartIncrement>& increments() const { return m_aIncrements; }
    const ChartStatistics& statistics() const { return stats_; }
    double yMax() const { return m_dYMax; }
    int xRange() const { return m_nXRange; }
    const std::string& readoutText() const { return m_strReadout; }
    const ChartRect& readoutRect() const { return m_rcReadout; }

    // The row of a value on the value axis of the last paint.
    int yOf(double value) const;

private:
    void prepareFirstPaint();
    void computeIncrements();
    void computeStatistics();
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

    int width_ = 0;
    int height_ = 0;
    double m_dYMax = 0.0;
    int m_nXRange = 0;
    double yscale_ = 0.0;
    double xscale_ = 0.0;
    ChartStatistics stats_;
    std::vector<ChartColumn> m_aColumns;
    std::vector<ChartIncrement> m_aIncrements;
    bool m_bFirstPaint = true;
    ScrollBarState scroll_;
    std::string m_strReadout;
    ChartRect m_rcReadout;
    int readoutX_ = 0, readoutY_ = 0; // the cursor the box was made for
    int charWidth_ = 8;
    std::vector<ChartPoint> polyline_; // reused by every paint
    std::vector<int> barTops_;         // reused by every paint
};

// Characters in a UTF-8 text (the chart measures its labels in characters).
int Utf8Length(const std::string& text);

} // namespace dm
