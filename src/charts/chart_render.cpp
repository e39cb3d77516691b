#include "charts/chart_render.h"

#include "core/text_file.h"

#include <QBuffer>
#include <QFontMetrics>
#include <QPolygon>

#include <algorithm>

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
    QPen pen(ToQColor(colour), w, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    painter_.setPen(pen);
    painter_.drawLine(x1, y1, x2, y2);
}

void QPainterChartCanvas::polyline(const std::vector<ChartPoint>& points, int width, Rgb colour) {
    if (points.size() < 2)
        return;
    bool allAligned = true;
    for (std::size_t i = 1; i < points.size() && allAligned; ++i)
        allAligned = AxisAligned(points[i - 1].x, points[i - 1].y, points[i].x, points[i].y);
    if (allAligned) {
        for (std::size_t i = 1; i < points.size(); ++i)
            line(points[i - 1].x, points[i - 1].y, points[i].x, points[i].y, width, colour);
        return;
    }
    QPolygon polygon(static_cast<int>(points.size()));
    for (std::size_t i = 0; i < points.size(); ++i)
        polygon.setPoint(static_cast<int>(i), points[i].x, points[i].y);
    QPen pen(ToQColor(colour), std::max(1, width), Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    painter_.setPen(pen);
    painter_.drawPolyline(polygon);
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
    const QString s = QString::fromStdString(text);
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
