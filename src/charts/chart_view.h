#pragma once
// The chart control: a drawing surface with a border and a horizontal scroll bar. It
// paints the chart into an off-screen picture that is copied to the screen in one step;
// the chart without the read-out box is kept, so a mouse move repaints only the area
// around the old and the new box.
#include "charts/chart_model.h"
#include "core/language.h"

#include <QAbstractScrollArea>
#include <QImage>

namespace dm {

class ChartView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit ChartView(Language language, QWidget* parent = nullptr);

    ChartModel& chart() { return chart_; }
    const ChartModel& chart() const { return chart_; }

    // Invalidates the whole client area; the next paint draws the chart afresh.
    void repaintChart();
    // The chart's scroll reset, handed on to the scroll bar.
    void scrollReset();
    // The picture of the client area, exactly as painted.
    QImage chartImage();
    // The client area's size (the chart's W and H).
    QSize clientSize() const;

signals:
    void saveRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void onScrollAction(int action);
    void syncScrollBar();
    void updateClientSize();

    ChartModel chart_;
    QImage base_;   // the chart without the read-out box
    QImage screen_; // base plus box, copied to the window
    bool baseValid_ = false;
};

} // namespace dm
