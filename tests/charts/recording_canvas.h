#pragma once
// A canvas that keeps what was drawn, for checking the chart's geometry without pixels.
#include "charts/chart_canvas.h"

#include <string>
#include <vector>

struct DrawnRect {
    int left, top, right, bottom;
    dm::Rgb colour;
};
struct DrawnLine {
    int x1, y1, x2, y2, width;
    dm::Rgb colour;
};
struct DrawnPolyline {
    std::vector<dm::ChartPoint> points;
    int width;
    dm::Rgb colour;
};
struct DrawnText {
    int x, y;
    std::string text;
    dm::Rgb background;
};

class RecordingCanvas : public dm::ChartCanvas {
public:
    void fill(int l, int t, int r, int b, dm::Rgb c) override { fills.push_back({l, t, r, b, c}); }
    void line(int x1, int y1, int x2, int y2, int w, dm::Rgb c) override { lines.push_back({x1, y1, x2, y2, w, c}); }
    void polyline(const std::vector<dm::ChartPoint>& p, int w, dm::Rgb c) override { polylines.push_back({p, w, c}); }
    void box(int l, int t, int r, int b, dm::Rgb, dm::Rgb brush) override { boxes.push_back({l, t, r, b, brush}); }
    void text(int x, int y, const std::string& s, dm::Rgb bg) override { texts.push_back({x, y, s, bg}); }

    std::vector<DrawnText> textsAt(int y) const {
        std::vector<DrawnText> out;
        for (const auto& t : texts)
            if (t.y == y)
                out.push_back(t);
        return out;
    }
    std::vector<DrawnRect> fillsOf(dm::Rgb c) const {
        std::vector<DrawnRect> out;
        for (const auto& f : fills)
            if (f.colour == c)
                out.push_back(f);
        return out;
    }
    const DrawnPolyline* polylineOf(dm::Rgb c) const {
        for (const auto& p : polylines)
            if (p.colour == c)
                return &p;
        return nullptr;
    }

    std::vector<DrawnRect> fills;
    std::vector<DrawnLine> lines;
    std::vector<DrawnPolyline> polylines;
    std::vector<DrawnRect> boxes;
    std::vector<DrawnText> texts;
};
