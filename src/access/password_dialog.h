#pragma once
// The password dialog: a prompt, a masked entry, OK and Cancel. Built afresh for every
// use; the entered text is empty after Cancel or Escape.
#include "core/language.h"

#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

class PasswordDialog : public QDialog {
    Q_OBJECT
public:
    PasswordDialog(QWidget* parent, dm::Language language);

    // UTF-8; empty after Cancel, Escape or an empty entry.
    const std::string& enteredText() const { return entered_; }

    QLineEdit* passwordEdit() const { return edit_; }

    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    dm::Language language_;
    std::string entered_;
    QLabel* prompt_;
    QLineEdit* edit_;
    QPushButton* ok_;
    QPushButton* cancel_;
};
