#include "access/password_dialog.h"

#include "access/dialog_units.h"
#include "core/string_table.h"
#include "qt/qt_text.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

PasswordDialog::PasswordDialog(QWidget* parent, dm::Language language)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), language_(language) {
    setModal(true);
    setObjectName(QStringLiteral("passwordDialog"));
    // Frameless, but the task bar and screen readers still name it.
    setWindowTitle(dm::Q(dm::Tr(dm::IDS_PASSWORD_TITLE, language_)));
    const dm::DialogUnits du(font());
    setFixedSize(du.size(190, 118));

    // A frameless pop-up still needs an edge to stand out from the window below it.
    auto* border = new QFrame(this);
    border->setFrameShape(QFrame::Box);
    border->setGeometry(0, 0, width(), height());

    prompt_ = new QLabel(this);
    prompt_->setObjectName(QStringLiteral("prompt"));
    prompt_->setWordWrap(true);
    prompt_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    prompt_->setGeometry(du.rect(7, 7, 176, 64));
    prompt_->setText(dm::Q(dm::Tr(dm::IDS_PASSWORD_PROMPT, language_)));

    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("password"));
    edit_->setEchoMode(QLineEdit::Password);
    edit_->setGeometry(du.rect(13, 79, 164, 13));

    ok_ = new QPushButton(dm::Q(dm::Tr(dm::IDS_OK, language_)), this);
    ok_->setObjectName(QStringLiteral("ok"));
    ok_->setDefault(true);
    ok_->setGeometry(du.rect(133, 97, 50, 14));
    cancel_ = new QPushButton(dm::Q(dm::Tr(dm::IDS_CANCEL, language_)), this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    cancel_->setAutoDefault(false);
    cancel_->setGeometry(du.rect(7, 97, 50, 14));

    connect(ok_, &QPushButton::clicked, this, &PasswordDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &PasswordDialog::reject);
}

void PasswordDialog::accept() {
    entered_ = edit_->text().toStdString();
    QDialog::accept();
}

void PasswordDialog::reject() {
    entered_.clear();
    QDialog::reject();
}

void PasswordDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    prompt_->setText(dm::Q(dm::Tr(dm::IDS_PASSWORD_PROMPT, language_)));
    edit_->setFocus();
}
