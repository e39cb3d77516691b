#pragma once
// The About box: the product line, version, maker and contact, the records database in
// use, and an OK button, in the interface language.
#include "core/language.h"

#include <QDialog>

#include <string>

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    // note: a line added below the text (see AboutRecordsNote), when not empty.
    AboutDialog(QWidget* parent, dm::Language language, const std::string& note = {});
};

// The line that names the records database in use ("Records: sqlite:...").
std::string AboutRecordsNote(dm::Language language, const std::string& database);
