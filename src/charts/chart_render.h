#pragma once
// The chart's one render path on Qt: the window, the PNG export, the command-line tool
// and the tests all draw the chart through RenderChart.
#include "charts/chart_model.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRegion>

#include <string>

namespace dm {

// The chart's fixed-pitch font: 15 pixels high.
QFont ChartFont();

class QPainterChartCanvas : public ChartCanvas {
public:
    explicit QPainterChartCanvas(QPainter& painter);
    void fill(int left, int top, int right, int bottom, Rgb colour) override;
    void line(int x1, int y1, int x2, int y2, int width, Rgb colour) override;
    void polyline(const std::vector<ChartPoint>& points, int width, Rgb colour) override;
    void box(int left, int top, int right, int bottom, Rgb pen, Rgb brush) override;
    void text(int x, int y, const std::string& text, Rgb background) override;
    int textWidth(const std::string& text) const override;

private:
    QPainter& painter_;
    int ascent_ = 0;
    int textHeight_ = 0;
};

// Paints the whole chart (read-out box included) at the model's client size, the top
// left of the client area at the painter's origin.
void RenderChart(QPainter& painter, ChartModel& chart);
// Only the chart without the read-out box, or only the box.
void RenderChartBase(QPainter& painter, ChartModel& chart);
void RenderChartReadout(QPainter& painter, ChartModel& chart);

// Brings the region of screen up to date: the kept chart without the box (base), then
// the read-out box over it. A mouse move repaints only the area around the box this way.
void ComposeChart(QImage& screen, const QImage& base, ChartModel& chart, const QRegion& region);

// The chart as an image of exactly its client size.
QImage RenderChartImage(ChartModel& chart);

// Writes the image as PNG, replacing the file only when the whole image was written.
bool WriteChartPng(const QImage& image, const std::string& path, std::string* error);

// Pixels per character of the chart font, for sizing the read-out box.
int ChartFontCharWidth();

} // namespace dm
