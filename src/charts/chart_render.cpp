#include "charts/chart_render.h"

#include "core/text_file.h"
#include "qt/qt_text.h"

#include <QBuffer>
#include <QFontMetrics>
#include <QPolygon>

#include <algorithm>
#include <cmath>
#include <limits>

namespace dm {
namespace {

QColor ToQColor(Rgb c) { return QColor(c.r, c.g, c.b); }

bool AxisAligned(int x1, int y1, int x2, int y2) { return x1 == x2 || y1 == y2; }

} // namespace

QFont ChartFont() {
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setPixelSize(15);
    return font;
}

int ChartFontCharWidth() {
    const QFontMetrics metrics(ChartFont());
    return std::max(1, metrics.horizontalAdvance(QLatin1Char('0')));
}

QPainterChartCanvas::QPainterChartCanvas(QPainter& painter) : painter_(painter) {
    painter_.setFont(ChartFont());
    painter_.setRenderHint(QPainter::Antialiasing, false);
    const QFontMetrics metrics = painter_.fontMetrics();
    ascent_ = metrics.ascent();
    textHeight_ = metrics.height();
}

void QPainterChartCanvas::fill(int left, int top, int right, int bottom, Rgb colour) {
    if (right > left && bottom > top)
        painter_.fillRect(QRect(left, top, right - left, bottom - top), ToQColor(colour));
}

// Horizontal and vertical lines are filled as rectangles, so their pixels are exact:
// the end point is left out and a wide pen covers width rows from the centre - width/2.
void QPainterChartCanvas::line(int x1, int y1, int x2, int y2, int width, Rgb colour) {
    if (x1 == x2 && y1 == y2)
        return;
    const int w = std::max(1, width);
    if (y1 == y2) {
        const int from = x1 < x2 ? x1 : x2 + 1, to = x1 < x2 ? x2 : x1 + 1;
        fill(from, y1 - w / 2, to, y1 - w / 2 + w, colour);
        return;
    }
    if (x1 == x2) {
        const int from = y1 < y2 ? y1 : y2 + 1, to = y1 < y2 ? y2 : y1 + 1;
        fill(x1 - w / 2, from, x1 - w / 2 + w, to, colour);
        return;
    }
    polyline({{x1, y1}, {x2, y2}}, w, colour);
}

void QPainterChartCanvas::polyline(const std::vector<ChartPoint>& points, int width, Rgb colour) {
    if (points.size() < 2)
        return;
    if (points.size() == 2 && AxisAligned(points[0].x, points[0].y, points[1].x, points[1].y)) {
        line(points[0].x, points[0].y, points[1].x, points[1].y, width, colour);
        return;
    }
    const int w = std::max(1, width);
    bool leftToRight = true;
    for (std::size_t i = 1; i < points.size() && leftToRight; ++i)
        leftToRight = points[i].x >= points[i - 1].x;
    if (!leftToRight) {
        // Rare (times out of order): one-pixel lines side by side, shifted left and up.
        QPolygon polygon(static_cast<int>(points.size()));
        for (std::size_t i = 0; i < points.size(); ++i)
            polygon.setPoint(static_cast<int>(i), points[i].x, points[i].y);
        painter_.setPen(QPen(ToQColor(colour), 0));
        painter_.drawPolyline(polygon);
        for (int shift = 1; shift < w; ++shift) {
            painter_.drawPolyline(polygon.translated(-shift, 0));
            painter_.drawPolyline(polygon.translated(0, -shift));
        }
        return;
    }

    // A line that runs left to right covers, in each pixel column, one span of rows: the
    // rows the line passes through over that column's width. Collecting the spans and
    // filling runs of equal spans draws thousands of short segments as a few hundred
    // rectangles, each pixel once.
    const int deviceWidth = painter_.device() ? painter_.device()->width() : 0;
    const int lo = std::max(points.front().x, -w), hi = std::min(points.back().x, deviceWidth + w);
    if (lo > hi)
        return;
    struct Span {
        int top = std::numeric_limits<int>::max(), bottom = std::numeric_limits<int>::min();
    };
    thread_local std::vector<Span> spans;
    spans.assign(static_cast<std::size_t>(hi - lo + 1), Span{});
    auto add = [&](int x, double y1, double y2) {
        Span& s = spans[static_cast<std::size_t>(x - lo)];
        s.top = std::min(s.top, static_cast<int>(std::lround(std::min(y1, y2))));
        s.bottom = std::max(s.bottom, static_cast<int>(std::lround(std::max(y1, y2))));
    };
    for (std::size_t i = 1; i < points.size(); ++i) {
        const ChartPoint a = points[i - 1], b = points[i];
        if (b.x < lo || a.x > hi)
            continue;
        if (a.x == b.x) {
            add(a.x, a.y, b.y);
            continue;
        }
        const double slope = double(b.y - a.y) / double(b.x - a.x);
        for (int x = std::max(a.x, lo); x <= std::min(b.x, hi); ++x) {
            const double from = std::max(x - 0.5, double(a.x)), to = std::min(x + 0.5, double(b.x));
            add(x, a.y + slope * (from - a.x), a.y + slope * (to - a.x));
        }
    }
    const int shift = w / 2;
    int x = lo;
    while (x <= hi) {
        const Span s = spans[static_cast<std::size_t>(x - lo)];
        int end = x + 1;
        while (end <= hi && spans[static_cast<std::size_t>(end - lo)].top == s.top &&
               spans[static_cast<std::size_t>(end - lo)].bottom == s.bottom)
            ++end;
        if (s.top <= s.bottom)
            fill(x - shift, s.top - shift, end - 1 - shift + w, s.bottom - shift + w, colour);
        x = end;
    }
}

void QPainterChartCanvas::box(int left, int top, int right, int bottom, Rgb pen, Rgb brush) {
    if (right <= left || bottom <= top)
        return;
    fill(left, top, right, bottom, brush);
    painter_.setPen(QPen(ToQColor(pen), 0));
    painter_.setBrush(Qt::NoBrush);
    painter_.drawRect(QRect(left, top, right - left - 1, bottom - top - 1));
}

void QPainterChartCanvas::text(int x, int y, const std::string& text, Rgb background) {
    const QString s = Q(text);
    const int width = painter_.fontMetrics().horizontalAdvance(s);
    fill(x, y, x + width, y + textHeight_, background);
    painter_.setPen(Qt::black);
    painter_.drawText(QPoint(x, y + ascent_), s);
}

void RenderChartBase(QPainter& painter, ChartModel& chart) {
    QPainterChartCanvas canvas(painter);
    chart.paintChart(canvas);
}

void RenderChartReadout(QPainter& painter, ChartModel& chart) {
    QPainterChartCanvas canvas(painter);
    chart.paintReadout(canvas);
}

void RenderChart(QPainter& painter, ChartModel& chart) {
    QPainterChartCanvas canvas(painter);
    chart.paint(canvas);
}

void ComposeChart(QImage& screen, const QImage& base, ChartModel& chart, const QRegion& region) {
    QPainter painter(&screen);
    painter.setClipRegion(region);
    painter.drawImage(0, 0, base);
    RenderChartReadout(painter, chart);
}

QImage RenderChartImage(ChartModel& chart) {
    QImage image(std::max(1, chart.width()), std::max(1, chart.height()), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    RenderChart(painter, chart);
    painter.end();
    return image;
}

bool WriteChartPng(const QImage& image, const std::string& path, std::string* error) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) {
        if (error)
            *error = "cannot encode the picture as PNG";
        return false;
    }
    return WriteFileAtomically(path, std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                               error);
}

} // namespace dm
