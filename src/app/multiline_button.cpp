#include "app/multiline_button.h"

#include <QFontMetrics>
#include <QStringList>

namespace dm {

void MultiLineButton::setCaption(const QString& caption) {
    caption_ = caption;
    wrap();
}

void MultiLineButton::resizeEvent(QResizeEvent* event) {
    QPushButton::resizeEvent(event);
    wrap();
}

void MultiLineButton::wrap() {
    const QFontMetrics metrics(font());
    const int room = qMax(10, width() - 8);
    QStringList lines;
    QString line;
    for (const QString& word : caption_.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString candidate = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
        if (!line.isEmpty() && metrics.horizontalAdvance(candidate) > room) {
            lines << line;
            line = word;
        } else {
            line = candidate;
        }
    }
    if (!line.isEmpty())
        lines << line;
    setText(lines.join(QLatin1Char('\n')));
}

} // namespace dm
