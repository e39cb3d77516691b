#include "access/dialog_units.h"

namespace dm {

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average over the Latin letters, as classic dialog templates measure it; the
    // font's own average is often a narrow glyph and would cramp the layout.
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int total = metrics.horizontalAdvance(letters);
    charWidth_ = qMax(1, (total / 26 + 1) / 2);
    fontHeight_ = qMax(1, metrics.height());
}

} // namespace dm
