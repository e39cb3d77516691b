#pragma once
// The dialogs the logic asks for, as the window shows them: message boxes, the
// file-save dialog and the password dialog, each modal and built for one use.
#include "core/language.h"
#include "core/message_sink.h"

#include <functional>

#include <QString>

class QWidget;

// A message box's title: its window's title, or the program's name in the language when
// the window has none.
QString MessageBoxTitle(const QWidget* parent, dm::Language language);

class QtUserDialogs : public dm::UserDialogs {
public:
    // parent: the window the boxes belong to; language: read whenever a dialog opens
    // (the window's language may change between uses), English without it.
    QtUserDialogs(QWidget* parent, std::function<dm::Language()> language = {});

    void showMessage(const std::string& text) override;
    void showAlert(const std::string& text) override;
    bool askYesNo(const std::string& text) override;
    bool askYesNoDefaultNo(const std::string& text) override;
    dm::UnsentEditsAnswer askUnsentEdits(const std::string& text) override;
    std::optional<std::string> askSaveFileName() override;
    std::optional<std::string> askCaptureFileName() override;
    std::optional<std::string> askPassword() override;

private:
    dm::Language lang() const;
    QString title() const;
    bool ask(const std::string& text, bool yesIsDefault);

    QWidget* parent_;
    std::function<dm::Language()> language_;
};
