#pragma once
// The About box: the product line, version, maker and contact, and an OK button.
#include <QDialog>

#include <string>

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    // note: a line added below the text (the records database in use), when not empty.
    AboutDialog(QWidget* parent, int langBase, const std::string& note = {});
};
