#pragma once
// A check box whose caption is painted a second time in the chart's font and its own
// colour, so that it serves as a legend entry of a curve.
#include "core/colour.h"

#include <QCheckBox>

namespace dm {

class LegendCheckBox : public QCheckBox {
    Q_OBJECT
public:
    explicit LegendCheckBox(QWidget* parent = nullptr);

    void setBackgroundColour(Rgb colour);
    void setCaptionColour(Rgb colour);
    Rgb backgroundColour() const { return background_; }
    Rgb captionColour() const { return caption_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Rgb background_{236, 233, 216};
    Rgb caption_{255, 0, 0};
};

} // namespace dm
