#include "app/about_dialog.h"

#include "core/string_table.h"
#include "qt/qt_text.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

AboutDialog::AboutDialog(QWidget* parent, dm::Language language, const std::string& note) : QDialog(parent) {
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(dm::Q(dm::Tr(dm::IDS_ABOUT_TITLE, language)));
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(dm::Q(dm::Tr(dm::IDS_ABOUT, language)), this);
    text->setObjectName(QStringLiteral("aboutText"));
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(text);
    if (!note.empty()) {
        auto* noteLabel = new QLabel(dm::Q(note), this);
        noteLabel->setObjectName(QStringLiteral("aboutRecords"));
        noteLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
        layout->addWidget(noteLabel);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setText(dm::Q(dm::Tr(dm::IDS_OK, language)));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

std::string AboutRecordsNote(dm::Language language, const std::string& database) {
    return dm::FillIn(dm::Tr(dm::IDS_ABOUT_RECORDS, language), {database});
}
