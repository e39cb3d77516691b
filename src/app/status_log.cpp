#include "app/status_log.h"

#include <QAbstractItemView>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>

#include <algorithm>

namespace dm {

StatusLog::StatusLog(QWidget* parent) : QComboBox(parent) {
    // An entry cut at the field's width shows whole as the field's tool tip, and in the
    // list as the entry's own.
    connect(this, &QComboBox::currentTextChanged, this, &QWidget::setToolTip);
}

void StatusLog::addEntry(const QString& text) {
    insertItem(0, text);
    setItemData(0, text, Qt::ToolTipRole);
    setCurrentIndex(0);
    while (count() > kMaxEntries)
        removeItem(count() - 1);
}

void StatusLog::showPopup() {
    const QScreen* shown = screen();
    const QRect room = shown ? shown->availableGeometry() : QRect();
    int widest = 0;
    const QFontMetrics metrics = view()->fontMetrics();
    for (int i = 0; i < count(); ++i)
        widest = std::max(widest, metrics.horizontalAdvance(itemText(i)));
    int wanted = widest + 2 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 12 +
                 view()->verticalScrollBar()->sizeHint().width();
    if (room.isValid())
        wanted = std::min(wanted, room.width());
    view()->setMinimumWidth(std::max(width(), wanted));
    view()->setMaximumWidth(room.isValid() ? room.width() : QWIDGETSIZE_MAX);
    QComboBox::showPopup();
    // The list's frame is a window of its own: keep all of it on the screen.
    QWidget* popup = view()->window();
    if (!room.isValid() || popup == window())
        return;
    // The list's frame adds its own border around the list.
    if (const int excess = popup->width() - room.width(); excess > 0) {
        view()->setMinimumWidth(std::max(1, view()->minimumWidth() - excess));
        view()->setMaximumWidth(std::max(1, view()->maximumWidth() - excess));
        popup->setMinimumWidth(0);
    }
    QRect frame = popup->geometry();
    frame.setWidth(std::min(frame.width(), room.width()));
    frame.setHeight(std::min(frame.height(), room.height()));
    if (frame.right() > room.right())
        frame.moveRight(room.right());
    if (frame.left() < room.left())
        frame.moveLeft(room.left());
    if (frame.bottom() > room.bottom())
        frame.moveBottom(room.bottom());
    if (frame.top() < room.top())
        frame.moveTop(room.top());
    if (frame != popup->geometry())
        popup->setGeometry(frame);
}

} // namespace dm
