#include "app/qt_user_dialogs.h"

#include "access/password_dialog.h"
#include "core/string_table.h"
#include "qt/qt_text.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

QString MessageBoxTitle(const QWidget* parent, dm::Language language) {
    // The Russian caption ends in a blank, for the model to follow.
    const QString own = parent ? parent->windowTitle().trimmed() : QString();
    return own.isEmpty() ? dm::Q(dm::Tr(dm::IDS_PROGRAM_NAME, language)) : own;
}

QtUserDialogs::QtUserDialogs(QWidget* parent, std::function<dm::Language()> language)
    : parent_(parent), language_(std::move(language)) {}

dm::Language QtUserDialogs::lang() const { return language_ ? language_() : dm::Language::English; }

QString QtUserDialogs::title() const { return MessageBoxTitle(parent_, lang()); }

void QtUserDialogs::showMessage(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, title(), dm::Q(text), QMessageBox::Ok, parent_);
    box.exec();
}

void QtUserDialogs::showAlert(const std::string& text) {
    QMessageBox box(QMessageBox::Warning, title(), QString::fromStdString(text), QMessageBox::Ok, parent_);
    box.exec();
}

bool QtUserDialogs::askYesNo(const std::string& text) { return ask(text, true); }

bool QtUserDialogs::askYesNoDefaultNo(const std::string& text) { return ask(text, false); }

bool QtUserDialogs::ask(const std::string& text, bool yesIsDefault) {
    // The stop icon, as confirmations of something that cannot be undone show it.
    QMessageBox box(QMessageBox::Critical, title(), dm::Q(text),
                    QMessageBox::Yes | QMessageBox::No, parent_);
    box.setDefaultButton(yesIsDefault ? QMessageBox::Yes : QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

dm::UnsentEditsAnswer QtUserDialogs::askUnsentEdits(const std::string& text) {
    QMessageBox box(QMessageBox::Warning, title(), dm::Q(text), QMessageBox::NoButton, parent_);
    QPushButton* send =
        box.addButton(dm::Q(dm::Tr(dm::IDS_SEND, lang())), QMessageBox::AcceptRole);
    QPushButton* discard = box.addButton(QMessageBox::Discard);
    // Qt's Russian says "decline"; the edits are dropped, as the status log then says.
    discard->setText(dm::Q(dm::Tr(dm::IDS_DISCARD, lang())));
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    // Enter and Escape both keep the edits as they are.
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == send)
        return dm::UnsentEditsAnswer::Send;
    if (box.clickedButton() == discard)
        return dm::UnsentEditsAnswer::Discard;
    return dm::UnsentEditsAnswer::Cancel;
}

std::optional<std::string> QtUserDialogs::askSaveFileName() {
    QFileDialog dialog(parent_);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(dm::Q(dm::Tr(dm::IDS_TEXT_FILTER, lang())));
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    // The overwrite question is the program's own, asked after this dialog.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

std::optional<std::string> QtUserDialogs::askCaptureFileName() {
    QFileDialog dialog(parent_);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(dm::Q(dm::Tr(dm::IDS_CAPTURE_FILTER, lang())));
    dialog.setDefaultSuffix(QStringLiteral("pcap"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

std::optional<std::string> QtUserDialogs::askPassword() {
    PasswordDialog dialog(parent_, lang());
    dialog.exec();
    if (dialog.enteredText().empty())
        return std::nullopt;
    return dialog.enteredText();
}
