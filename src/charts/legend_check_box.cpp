#include "charts/legend_check_box.h"

#include "charts/chart_render.h"

#include <QFontMetrics>
#include <QPainter>

namespace dm {

LegendCheckBox::LegendCheckBox(QWidget* parent) : QCheckBox(parent) {}

void LegendCheckBox::setBackgroundColour(Rgb colour) {
    background_ = colour;
    update();
}

void LegendCheckBox::setCaptionColour(Rgb colour) {
    caption_ = colour;
    update();
}

void LegendCheckBox::paintEvent(QPaintEvent* event) {
    QCheckBox::paintEvent(event);
    QPainter painter(this);
    painter.setFont(ChartFont());
    const QFontMetrics metrics = painter.fontMetrics();
    const QString caption = text();
    const QRect back(17, 0, metrics.horizontalAdvance(caption), metrics.height());
    painter.fillRect(back, QColor(background_.r, background_.g, background_.b));
    painter.setPen(QColor(caption_.r, caption_.g, caption_.b));
    painter.drawText(QPoint(17, metrics.ascent()), caption);
}

} // namespace dm
