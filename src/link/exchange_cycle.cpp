#include "link/exchange_cycle.h"

#include "core/string_table.h"

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

void ExchangeCycle::dispatch(int replies) {
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
    } else if (replies == kReplyArchive || replies == kReplyArchive + kReplyResult) {
        screen_.parseArchiveReply(link_.ArchiveReply());
        screen_.addStatusPadded(Tr(IDS_ARCHIVE_RECEIVED, langBase_));
        screen_.playReplySignal();
        progressPosition_ = 100;
        screen_.enableActions();
    } else if (replies == kReplyResult) {
        const std::string result = link_.ResultReply();
        // An acceptance only announces the parameter reply that follows it.
        if (result.find("accepted") == std::string::npos) {
            screen_.addStatusRaw(result);
            screen_.playReplySignal();
            progressPosition_ = 100;
            screen_.enableActions();
        }
    }
    // Any other sum (several replies of one kind, or parameters and archive together)
    // is ambiguous: nothing is dispatched and the texts stay in the slots.
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
    dispatch(replies);

    advanceProgress();
    checkTimeOut(status, replies);
}

} // namespace dm
