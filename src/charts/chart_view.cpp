#include "charts/chart_view.h"

#include "charts/chart_render.h"
#include "core/string_table.h"
#include "qt/qt_text.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>

namespace dm {

ChartView::ChartView(Language language, QWidget* parent)
    : QAbstractScrollArea(parent), chart_(language) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAttribute(Qt::WA_NoSystemBackground);
    chart_.setReadoutCharWidth(ChartFontCharWidth());
    horizontalScrollBar()->setSingleStep(1);
    connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this, &ChartView::onScrollAction);
    syncScrollBar();
}

QSize ChartView::clientSize() const {
    if (viewport()->testAttribute(Qt::WA_Resized) || isVisible())
        return viewport()->size();
    // Not laid out yet: the frame's inside less the scroll bar below.
    QSize size = contentsRect().size();
    size.setHeight(size.height() - style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this));
    return size.expandedTo(QSize(0, 0));
}

void ChartView::updateClientSize() {
    const QSize size = clientSize();
    chart_.setClientSize(size.width(), size.height());
}

void ChartView::repaintChart() {
    baseValid_ = false;
    viewport()->update();
}

void ChartView::scrollReset() {
    updateClientSize();
    chart_.scrollReset();
    syncScrollBar();
}

QImage ChartView::chartImage() {
    updateClientSize();
    QImage image = RenderChartImage(chart_);
    syncScrollBar();
    return image;
}

void ChartView::syncScrollBar() {
    const ScrollBarState& s = chart_.scrollState();
    QScrollBar* bar = horizontalScrollBar();
    const QSignalBlocker block(bar);
    bar->setRange(s.min, s.maxPos());
    bar->setPageStep(std::max(1, s.page));
    bar->setValue(s.pos);
}

void ChartView::onScrollAction(int action) {
    QScrollBar* bar = horizontalScrollBar();
    ScrollRequest request = ScrollRequest::EndScroll;
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub: request = ScrollRequest::LineLeft; break;
    case QAbstractSlider::SliderSingleStepAdd: request = ScrollRequest::LineRight; break;
    case QAbstractSlider::SliderPageStepSub: request = ScrollRequest::PageLeft; break;
    case QAbstractSlider::SliderPageStepAdd: request = ScrollRequest::PageRight; break;
    case QAbstractSlider::SliderMove: request = ScrollRequest::ThumbTrack; break;
    case QAbstractSlider::SliderToMinimum: request = ScrollRequest::Left; break;
    case QAbstractSlider::SliderToMaximum: request = ScrollRequest::Right; break;
    default: break;
    }
    if (chart_.scroll(request, bar->sliderPosition()))
        repaintChart();
    // The chart decides where the bar stands; the action then applies that position.
    bar->setSliderPosition(chart_.scrollState().pos);
}

void ChartView::scrollContentsBy(int, int) {
    // The chart draws its own offset; nothing is moved here.
}

void ChartView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    repaintChart();
}

void ChartView::paintEvent(QPaintEvent* event) {
    updateClientSize();
    const QSize size(std::max(1, chart_.width()), std::max(1, chart_.height()));
    QRegion region = event->region();
    if (!baseValid_ || base_.size() != size) {
        base_ = QImage(size, QImage::Format_RGB32);
        QPainter painter(&base_);
        RenderChartBase(painter, chart_);
        painter.end();
        baseValid_ = true;
        syncScrollBar(); // the page follows the control's width
        region = QRegion(QRect(QPoint(0, 0), size));
    }
    if (screen_.size() != size)
        screen_ = QImage(size, QImage::Format_RGB32);
    ComposeChart(screen_, base_, chart_, region);
    QPainter window(viewport());
    window.setClipRegion(region);
    window.drawImage(0, 0, screen_);
}

void ChartView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    const ReadoutChange change = chart_.mouseMove(p.x(), p.y());
    if (!change.repaint)
        return;
    if (change.whole)
        viewport()->update();
    else
        viewport()->update(QRect(QPoint(change.area.left, change.area.top),
                                 QPoint(change.area.right - 1, change.area.bottom - 1)));
}

bool ChartView::viewportEvent(QEvent* event) {
    // The box belongs to the cursor: it goes when the cursor leaves the chart.
    if (event->type() == QEvent::Leave && chart_.hideReadout())
        viewport()->update();
    return QAbstractScrollArea::viewportEvent(event);
}

void ChartView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* save = menu.addAction(Q(Tr(IDS_SAVE_DIAGRAM_PNG, chart_.language())));
    if (menu.exec(event->globalPos()) == save)
        emit saveRequested();
}

} // namespace dm
