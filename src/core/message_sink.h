#pragma once
// How logic below the widgets talks to the user. The window answers with message
// boxes and dialogs, the command-line tool with stderr, tests with recorders.
#include <optional>
#include <string>

namespace dm {

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // An information box with an OK button; text is UTF-8.
    virtual void showMessage(const std::string& text) = 0;
};

// What to do with edits not yet sent, before something would replace or drop them.
enum class UnsentEditsAnswer { Send, Discard, Cancel };

class UserDialogs : public MessageSink {
public:
    // Send, Discard and Cancel buttons; Cancel is what Escape and Enter give.
    virtual UnsentEditsAnswer askUnsentEdits(const std::string& text) {
        (void)text;
        return UnsentEditsAnswer::Cancel;
    }
    // A Yes/No question with the stop icon; true for Yes.
    virtual bool askYesNo(const std::string& text) = 0;
    // The same question with No as the answer Enter gives, for a step that cannot be
    // undone (erasing the total dose, or the dose history with a new history interval).
    virtual bool askYesNoDefaultNo(const std::string& text) { return askYesNo(text); }
    // The file-save dialog (default extension "txt", filter "Text file (*.txt)");
    // nothing when the user cancels.
    virtual std::optional<std::string> askSaveFileName() = 0;
    // The file-save dialog for a capture of the link's frames (pcap), which asks itself
    // before it replaces a file; nothing when the user cancels.
    virtual std::optional<std::string> askCaptureFileName() { return std::nullopt; }
    // The password dialog; nothing on Cancel or Escape.
    virtual std::optional<std::string> askPassword() = 0;
};

// Swallows everything; for callers that have no user to tell.
class SilentMessages : public MessageSink {
public:
    void showMessage(const std::string&) override {}
};

} // namespace dm
