#pragma once
// Answers the dialogs of the logic from a script and records what was asked, so tests
// never open a real modal box.
#include "core/message_sink.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class ScriptedDialogs : public dm::UserDialogs {
public:
    std::vector<std::string> messages;  // every information box, in order
    std::vector<std::string> questions; // every Yes/No question, in order
    std::vector<std::string> noDefault; // those of them where Enter answers No
    std::deque<bool> answers;           // Yes/No answers; Yes when the script has run out
    std::deque<std::optional<std::string>> saveNames; // file dialog; cancel when run out
    std::deque<std::optional<std::string>> passwords; // password dialog; cancel when run out
    std::vector<std::string> unsentQuestions;         // every send/discard/cancel question
    std::deque<dm::UnsentEditsAnswer> unsentAnswers;  // Cancel when run out

    // Runs while an information box is open, as its event loop runs the window's timers.
    std::function<void()> whileShown;

    void showMessage(const std::string& text) override {
        messages.push_back(text);
        if (whileShown)
            whileShown();
    }
    bool askYesNo(const std::string& text) override {
        questions.push_back(text);
        if (answers.empty())
            return true;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    bool askYesNoDefaultNo(const std::string& text) override {
        noDefault.push_back(text);
        return askYesNo(text);
    }
    dm::UnsentEditsAnswer askUnsentEdits(const std::string& text) override {
        unsentQuestions.push_back(text);
        if (unsentAnswers.empty())
            return dm::UnsentEditsAnswer::Cancel;
        const dm::UnsentEditsAnswer a = unsentAnswers.front();
        unsentAnswers.pop_front();
        return a;
    }
    std::optional<std::string> askSaveFileName() override { return next(saveNames); }
    std::optional<std::string> askCaptureFileName() override { return next(saveNames); }
    std::optional<std::string> askPassword() override { return next(passwords); }

private:
    static std::optional<std::string> next(std::deque<std::optional<std::string>>& q) {
        if (q.empty())
            return std::nullopt;
        auto v = q.front();
        q.pop_front();
        return v;
    }
};
