#pragma once
// Dialog layouts are given in dialog units, which scale with the dialog's font:
// one horizontal unit is a quarter of the average character width, one vertical unit
// an eighth of the font height. Converting through the font keeps a layout's
// proportions at any DPI and with any font.
#include <QFont>
#include <QFontMetrics>
#include <QRect>
#include <QSize>

namespace dm {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(int avgCharWidth, int fontHeight) : charWidth_(avgCharWidth), fontHeight_(fontHeight) {}

    int x(int units) const { return (units * charWidth_ + 2) / 4; }
    int y(int units) const { return (units * fontHeight_ + 4) / 8; }
    QRect rect(int left, int top, int width, int height) const {
        return QRect(x(left), y(top), x(width), y(height));
    }
    QSize size(int width, int height) const { return QSize(x(width), y(height)); }

private:
    int charWidth_;
    int fontHeight_;
};

} // namespace dm
