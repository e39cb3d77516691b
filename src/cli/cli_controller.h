#pragma once
// The exchange controller as the command-line tool uses it: no window to show anything,
// nobody to ask, and no cycle of its own (the tool runs one exchange itself and hands the
// reply over). The tool's own output comes from what the controller then holds.
#include "core/language.h"
#include "core/message_sink.h"
#include "exchange/exchange_controller.h"

#include <optional>
#include <string>

namespace dm::cli {

class NoView : public ControllerView {
public:
    void busy(bool) override {}
    void progress(int) override {}
    void statusLine(const std::string&) override {}
    void dosimeterLine(const std::string&) override {}
    void parametersChanged() override {}
    void archiveChanged() override {}
};

// Nobody to ask: every question answered the safe way (No, Cancel, nothing).
class NobodyToAsk : public UserDialogs {
public:
    void showMessage(const std::string&) override {}
    bool askYesNo(const std::string&) override { return false; }
    std::optional<std::string> askSaveFileName() override { return std::nullopt; }
    std::optional<std::string> askPassword() override { return std::nullopt; }
};

// A link no dosimeter is ever seen on: the controller's own cycle is never ticked.
class NoLink : public ExchangeLink {
public:
    int takeLinkStatus() override { return kLinkNone; }
    TakenReplies pollReplyFiles() override { return {}; }
    void sendCommandFile(const std::string&) override {}
};

// A controller with the three above, in the language and access given.
class CliController {
public:
    CliController(Language language, const std::string& catalogue, int access) : controller_(link_, view_, nobody_) {
        controller_.setLanguage(language, catalogue, {});
        controller_.setAccess(access);
    }
    ExchangeController& operator*() { return controller_; }
    ExchangeController* operator->() { return &controller_; }

private:
    NoLink link_;
    NoView view_;
    NobodyToAsk nobody_;
    ExchangeController controller_;
};

} // namespace dm::cli
