#pragma once
// The drawing operations the chart needs; a QPainter implements them for the screen and
// for PNG files, a recorder for tests.
#include "core/colour.h"

#include <string>
#include <vector>

namespace dm {

struct ChartPoint {
    int x = 0, y = 0;
    friend bool operator==(const ChartPoint&, const ChartPoint&) = default;
};

class ChartCanvas {
public:
    virtual ~ChartCanvas() = default;
    // Fills left..right-1 x top..bottom-1.
    virtual void fill(int left, int top, int right, int bottom, Rgb colour) = 0;
    // A solid line of the given width; the end point itself is not drawn. A horizontal
    // or vertical line of width w covers w rows (columns) from c - w/2.
    virtual void line(int x1, int y1, int x2, int y2, int width, Rgb colour) = 0;
    // Connected lines through the points, as line() draws each of them.
    virtual void polyline(const std::vector<ChartPoint>& points, int width, Rgb colour) = 0;
    // A rectangle left..right-1 x top..bottom-1 with a 1-pixel outline in pen, filled with brush.
    virtual void box(int left, int top, int right, int bottom, Rgb pen, Rgb brush) = 0;
    // Black text in the chart's fixed-pitch font, its cell's top left at (x, y), drawn on
    // an opaque background.
    virtual void text(int x, int y, const std::string& text, Rgb background) = 0;
    // The text's width in pixels as text() draws it; -1 when the canvas cannot tell (the
    // chart then counts characters of its fixed pitch).
    virtual int textWidth(const std::string& text) const {
        (void)text;
        return -1;
    }
};

} // namespace dm
