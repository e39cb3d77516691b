#include "charts/my_button.h"

#include "charts/chart_render.h"

#include <QFontMetrics>
#include <QPainter>

namespace dm {

CMyButton::CMyButton(QWidget* parent) : QCheckBox(parent) {}

void CMyButton::setBackgroundColour(Rgb colour) {
    background_ = colour;
    update();
}

void CMyButton::setCaptionColour(Rgb colour) {
    caption_ = colour;
    update();
}

void CMyButton::paintEvent(QPaintEvent* event) {
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
