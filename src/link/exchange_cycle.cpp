#include "link/exchange_cycle.h"

#include "core/string_table.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace dm {

namespace {

// The counter value after which a tick ends the exchange: with the preset T the
// time-out falls on tick 14 - T.
constexpr int kTimeOutAfter = 12;

} // namespace

ExchangeCycle::ExchangeCycle(ExchangeLink& link, ExchangeScreen& screen,
                             std::function<ExchangeStart()> composeGetParameters, int langBase)
    : link_(link), screen_(screen), composeGetParameters_(std::move(composeGetParameters)),
      langBase_(langBase) {}

void ExchangeCycle::resetCounters() {
    tickCounter_ = 0;
    progressPosition_ = 0;
    progressStep_ = 0;
}

void ExchangeCycle::resetForLanguageSwitch() {
    resetCounters();
    progressPosition_ = 100;
    screen_.enableActions();
}

void ExchangeCycle::beginProgress(int steps) {
    progressPosition_ = 0;
    if (steps > 0)
        progressStep_ = 100 / steps;
}

void ExchangeCycle::startCommand(const ExchangeStart& start) {
    if (!start.started)
        return;
    screen_.disableActions();
    if (start.resetHistoryView) {
        screen_.dropHistoryTabs();
        screen_.hideDiagramButton();
        screen_.showParameterGrid();
    }
    tickCounter_ = start.tickPreset;
    // "Send changes" shows an empty bar while it pushes and starts counting afterwards;
    // the other commands start counting before the push.
    if (start.progressBarToZeroBeforePush) {
        screen_.setProgressBar(0);
    } else if (start.progressSteps > 0) {
        beginProgress(start.progressSteps);
    }
    for (const std::string& file : start.files)
        link_.SendCommandFile(file);
    if (start.progressBarToZeroBeforePush && start.progressSteps > 0)
        beginProgress(start.progressSteps);
    if (start.changesSentMessage)
        screen_.addStatusPadded(Tr(IDS_CHANGES_SENT, langBase_));
}

void ExchangeCycle::clearReceived() {
    link_.ClearReplies();
    screen_.showParameterGrid();
    screen_.emptyParameterGrid();
    screen_.clearHistoryTables();
    screen_.disableActions();
    screen_.hideDiagramButton();
    screen_.dropHistoryTabs();
    screen_.invalidate();
}

// A result reply beside a parameter or archive reply is not looked at: an acceptance has
// served its purpose and is handed on with it, any other text comes again on its own.
int ExchangeCycle::acceptanceBeside(int replies) const {
    const bool withResult = replies == kReplyParams + kReplyResult || replies == kReplyArchive + kReplyResult;
    return withResult && link_.ResultReply().find("accepted") != std::string::npos ? kReplyResult : 0;
}

int ExchangeCycle::dispatch(int replies) {
    if (replies == kReplyParams || replies == kReplyParams + kReplyResult) {
        screen_.parseParameterReply(link_.ParamReply());
        screen_.addStatusPadded(Tr(IDS_PARAMS_RECEIVED, langBase_));
        screen_.playReplySignal();
        progressPosition_ = 100;
        screen_.enableActions();
        screen_.showParameterGrid();
        screen_.clearHistoryTables();
        screen_.hideDiagramButton();
        screen_.dropHistoryTabs();
        return kReplyParams + acceptanceBeside(replies);
    }
    if (replies == kReplyArchive || replies == kReplyArchive + kReplyResult) {
        screen_.parseArchiveReply(link_.ArchiveReply());
        screen_.addStatusPadded(Tr(IDS_ARCHIVE_RECEIVED, langBase_));
        screen_.playReplySignal();
        progressPosition_ = 100;
        screen_.enableActions();
        return kReplyArchive + acceptanceBeside(replies);
    }
    if (replies == kReplyResult) {
        const std::string result = link_.ResultReply();
        // An acceptance only announces the parameter reply that follows it.
        if (result.find("accepted") == std::string::npos) {
            screen_.addStatusRaw(result);
            screen_.playReplySignal();
            progressPosition_ = 100;
            screen_.enableActions();
        }
        return kReplyResult;
    }
    // Any other sum (several replies of one kind, or parameters and archive together)
    // is ambiguous: nothing is dispatched and the texts stay in the slots.
    return 0;
}

void ExchangeCycle::advanceProgress() {
    if (progressPosition_ <= 100) {
        screen_.setProgressBar(progressPosition_);
        progressPosition_ += progressStep_;
    } else {
        screen_.setProgressBar(100);
        progressStep_ = 0;
    }
}

void ExchangeCycle::checkTimeOut(int linkStatus, int replies) {
    const int remembered = tickCounter_++;
    if (remembered <= kTimeOutAfter)
        return;
    if (linkStatus == kLinkNone) {
        screen_.disableActions();
    } else {
        if (screen_.currentTab() == 0)
            screen_.enableButton(kButtonSendChanges);
        const bool wasRunning = !screen_.isButtonEnabled(kButtonGetParameters);
        screen_.enableButton(kButtonGetParameters);
        if (wasRunning && replies == 0)
            screen_.addStatusPadded(Tr(IDS_CONNECTION_INTERRUPTED, langBase_));
        screen_.enableButton(kButtonGetHistory);
        screen_.enableButton(kButtonEraseTotal);
        screen_.setProgressBar(100);
    }
    tickCounter_ = 0;
}

void ExchangeCycle::tick() {
    const int status = link_.GetLinkStatus();
    if (status == kLinkNone)
        screen_.disableActions();
    if (status == kLinkArrived && composeGetParameters_)
        startCommand(composeGetParameters_());
    if (status == kLinkGone)
        clearReceived();

    const int replies = link_.PollReplyFiles();
    const int delivered = dispatch(replies);
    if (replies != 0)
        link_.RepliesDelivered(delivered);

    advanceProgress();
    checkTimeOut(status, replies);
}

namespace {

// The link as the command-line run sees it: the dosimeter counts as present, so
// neither a discovery event nor its absence disturbs the one exchange asked for.
class PresentLink : public ExchangeLink {
public:
    explicit PresentLink(ExchangeLink& link) : link_(link) {}
    int GetLinkStatus() override { return kLinkPresent; }
    int PollReplyFiles() override { return link_.PollReplyFiles(); }
    std::string ResultReply() const override { return link_.ResultReply(); }
    std::string ParamReply() const override { return link_.ParamReply(); }
    std::string ArchiveReply() const override { return link_.ArchiveReply(); }
    void ClearReplies() override { link_.ClearReplies(); }
    void SendCommandFile(const std::string& bytes) override { link_.SendCommandFile(bytes); }
    void RepliesDelivered(int replies) override { link_.RepliesDelivered(replies); }

private:
    ExchangeLink& link_;
};

// Takes note of what ends a command-line run; everything merely visual is dropped.
class RunScreen : public ExchangeScreen {
public:
    RunScreen(WantedReply wanted, std::string interrupted)
        : wanted_(wanted), interrupted_(std::move(interrupted)) {}

    void disableActions() override { setAll(false); }
    void enableActions() override { setAll(true); }
    void enableButton(int id) override { setButton(id, true); }
    bool isButtonEnabled(int id) const override {
        for (const auto& b : buttons_)
            if (b.first == id) return b.second;
        return false;
    }
    int currentTab() const override { return 0; }
    void setProgressBar(int) override {}
    void addStatusPadded(const std::string& text) override {
        if (text == interrupted_) timedOut = true;
    }
    void addStatusRaw(const std::string& text) override { message = text; }
    void parseParameterReply(const std::string& text) override {
        if (wanted_ == WantedReply::Parameters) reply = text;
    }
    void parseArchiveReply(const std::string& text) override {
        if (wanted_ == WantedReply::Archive) reply = text;
    }
    void playReplySignal() override {}
    void showParameterGrid() override {}
    void emptyParameterGrid() override {}
    void clearHistoryTables() override {}
    void hideDiagramButton() override {}
    void dropHistoryTabs() override {}
    void invalidate() override {}

    std::optional<std::string> reply;
    std::optional<std::string> message;
    bool timedOut = false;

private:
    void setAll(bool on) {
        for (auto& b : buttons_) b.second = on;
    }
    void setButton(int id, bool on) {
        for (auto& b : buttons_)
            if (b.first == id) b.second = on;
    }

    WantedReply wanted_;
    std::string interrupted_;
    std::pair<int, bool> buttons_[4] = {{kButtonGetParameters, false}, {kButtonGetHistory, false},
                                        {kButtonSendChanges, false}, {kButtonEraseTotal, false}};
};

} // namespace

ExchangeRunResult RunExchangeToReply(ExchangeLink& link, ExchangeStart start, WantedReply wanted,
                                     int timeoutTicks, int langBase,
                                     const std::function<void()>& waitForNextTick) {
    timeoutTicks = std::max(timeoutTicks, 1);
    PresentLink present(link);
    RunScreen screen(wanted, Tr(IDS_CONNECTION_INTERRUPTED, langBase));
    ExchangeCycle cycle(present, screen, nullptr, langBase);
    // The cycle's own time-out then falls on the same tick as the run's.
    start.tickPreset = kTimeOutAfter + 2 - timeoutTicks;
    cycle.startCommand(start);

    ExchangeRunResult result;
    while (true) {
        if (waitForNextTick)
            waitForNextTick();
        cycle.tick();
        ++result.ticks;
        if (screen.reply) {
            result.outcome = ExchangeRunResult::Outcome::Reply;
            result.text = *screen.reply;
            return result;
        }
        if (screen.message) {
            result.outcome = ExchangeRunResult::Outcome::DosimeterMessage;
            result.text = *screen.message;
            return result;
        }
        // The cycle says nothing at its time-out when a reply of the other kind has
        // ended the exchange meanwhile; the run ends on that tick all the same.
        if (screen.timedOut || result.ticks >= timeoutTicks) {
            result.outcome = ExchangeRunResult::Outcome::TimedOut;
            return result;
        }
    }
}

} // namespace dm
