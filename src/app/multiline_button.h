#pragma once
// A push button whose caption wraps onto several lines to fit its width, as the
// multi-line buttons of the main window do.
#include <QPushButton>

namespace dm {

class MultiLineButton : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;

    // The caption as one line; shown wrapped at word boundaries to the button's width.
    void setCaption(const QString& caption);
    const QString& caption() const { return caption_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void wrap();
    QString caption_;
};

} // namespace dm
