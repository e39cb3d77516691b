#include "link/exchange_cycle.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace dm {

namespace {

// The counter value after which a tick ends the exchange: with the preset T the
// time-out falls on tick 14 - T.
constexpr int kTimeOutAfter = 12;

} // namespace

ExchangeCycle::ExchangeCycle(ExchangeLink& link, ExchangeObserver& observer,
                             std::function<ExchangeStart()> composeGetParameters)
    : link_(link), observer_(observer), composeGetParameters_(std::move(composeGetParameters)) {}

namespace {

// The command whose reply is waited for: the last request line ("get_parameters=255",
// "get_archive") of the files pushed.
std::string CommandName(const std::vector<std::string>& files) {
    std::string name = "command";
    for (const std::string& f : files) {
        for (std::size_t at = f.find("get_"); at != std::string::npos; at = f.find("get_", at + 1)) {
            if (at != 0 && f[at - 1] != '\n')
                continue;
            name = f.substr(at, f.find_first_of("= \r\n", at) - at);
        }
    }
    return name;
}

} // namespace

ExchangeState ExchangeCycle::state() const {
    ExchangeState st;
    st.inRange = inRange_;
    if (!waitingFor_.empty()) {
        st.phase = ExchangeState::Phase::Waiting;
        st.command = waitingFor_;
        st.ticksLeft = std::max(0, kTimeOutAfter + 2 - tickCounter_);
    }
    return st;
}

void ExchangeCycle::resetCounters() {
    tickCounter_ = 0;
    progressPosition_ = 0;
    progressStep_ = 0;
    waitingFor_.clear();
}

void ExchangeCycle::resetForLanguageSwitch() {
    resetCounters();
    progressPosition_ = 100;
    observer_.busy(false);
}

void ExchangeCycle::beginProgress(int steps) {
    progressPosition_ = 0;
    if (steps > 0)
        progressStep_ = 100 / steps;
}

void ExchangeCycle::startCommand(const ExchangeStart& start) {
    if (!start.started)
        return;
    waitingFor_ = CommandName(start.files);
    observer_.busy(true);
    tickCounter_ = start.tickPreset;
    // "Send changes" shows an empty bar while it pushes and starts counting afterwards;
    // the other commands start counting before the push.
    if (start.progressBarToZeroBeforePush) {
        observer_.progress(0);
    } else if (start.progressSteps > 0) {
        beginProgress(start.progressSteps);
    }
    for (const std::string& file : start.files)
        link_.SendCommandFile(file);
    if (start.progressBarToZeroBeforePush && start.progressSteps > 0)
        beginProgress(start.progressSteps);
}

void ExchangeCycle::finishWaiting() {
    waitingFor_.clear();
    progressPosition_ = 100;
    observer_.busy(false);
}

// A result reply beside a parameter or archive reply is not looked at: an acceptance has
// served its purpose and is handed on with it, any other text comes again on its own.
int ExchangeCycle::acceptanceBeside(int replies) const {
    const bool withResult = replies == kReplyParams + kReplyResult || replies == kReplyArchive + kReplyResult;
    return withResult && link_.ResultReply().find("accepted") != std::string::npos ? kReplyResult : 0;
}

int ExchangeCycle::dispatch(int replies) {
    if (replies == kReplyParams || replies == kReplyParams + kReplyResult) {
        observer_.parametersReceived(link_.ParamReply());
        finishWaiting();
        return kReplyParams + acceptanceBeside(replies);
    }
    if (replies == kReplyArchive || replies == kReplyArchive + kReplyResult) {
        observer_.archiveReceived(link_.ArchiveReply());
        finishWaiting();
        return kReplyArchive + acceptanceBeside(replies);
    }
    if (replies == kReplyResult) {
        const std::string result = link_.ResultReply();
        // An acceptance only announces the parameter reply that follows it.
        if (result.find("accepted") == std::string::npos) {
            observer_.dosimeterMessage(result);
            finishWaiting();
        }
        return kReplyResult;
    }
    // Any other sum (several replies of one kind, or parameters and archive together)
    // is ambiguous: nothing is dispatched and the texts stay in the slots.
    return 0;
}

void ExchangeCycle::advanceProgress() {
    if (progressPosition_ <= 100) {
        observer_.progress(progressPosition_);
        progressPosition_ += progressStep_;
    } else {
        observer_.progress(100);
        progressStep_ = 0;
    }
}

void ExchangeCycle::checkTimeOut(int linkStatus, int replies) {
    const int remembered = tickCounter_++;
    if (remembered <= kTimeOutAfter)
        return;
    // Idle, the same rhythm frees the commands again while a dosimeter is in range.
    if (linkStatus == kLinkNone) {
        observer_.busy(true);
    } else {
        const bool wasWaiting = !waitingFor_.empty();
        waitingFor_.clear();
        if (wasWaiting && replies == 0)
            observer_.timedOut();
        observer_.busy(false);
        observer_.progress(100);
    }
    tickCounter_ = 0;
}

void ExchangeCycle::tick() {
    const int status = link_.GetLinkStatus();
    inRange_ = status == kLinkArrived || status == kLinkPresent;
    if (status == kLinkNone)
        observer_.busy(true);
    if (status == kLinkArrived) {
        observer_.arrived();
        if (composeGetParameters_)
            startCommand(composeGetParameters_());
    }
    if (status == kLinkGone) {
        link_.ClearReplies();
        waitingFor_.clear();
        observer_.gone();
        observer_.busy(true);
    }

    const int replies = link_.PollReplyFiles();
    const int delivered = dispatch(replies);
    if (replies != 0)
        link_.RepliesDelivered(delivered);

    advanceProgress();
    checkTimeOut(status, replies);
}

int ExchangeCycle::lookForReplies() {
    if (waitingFor_.empty())
        return 0;
    const int replies = link_.PollFinishedReplyFiles();
    if (replies == 0)
        return 0;
    link_.RepliesDelivered(dispatch(replies));
    // The bar fills now, as it would on the tick that took the reply in.
    if (waitingFor_.empty())
        advanceProgress();
    return replies;
}

namespace {

// The link as the command-line run sees it: the dosimeter counts as present, so
// neither a discovery event nor its absence disturbs the one exchange asked for.
class PresentLink : public ExchangeLink {
public:
    explicit PresentLink(ExchangeLink& link) : link_(link) {}
    int GetLinkStatus() override { return kLinkPresent; }
    int PollReplyFiles() override { return link_.PollReplyFiles(); }
    int PollFinishedReplyFiles() override { return link_.PollFinishedReplyFiles(); }
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
class RunObserver : public ExchangeObserver {
public:
    explicit RunObserver(WantedReply wanted) : wanted_(wanted) {}

    void busy(bool) override {}
    void progress(int) override {}
    void parametersReceived(const std::string& text) override {
        if (wanted_ == WantedReply::Parameters) reply = text;
    }
    void archiveReceived(const std::string& text) override {
        if (wanted_ == WantedReply::Archive) reply = text;
    }
    void dosimeterMessage(const std::string& text) override { message = text; }
    void timedOut() override { timedOutSeen = true; }
    void arrived() override {}
    void gone() override {}

    std::optional<std::string> reply;
    std::optional<std::string> message;
    bool timedOutSeen = false;

private:
    WantedReply wanted_;
};

} // namespace

ExchangeRunResult RunExchangeToReply(ExchangeLink& link, ExchangeStart start, WantedReply wanted,
                                     int timeoutTicks,
                                     const std::function<void()>& waitForNextTick,
                                     const std::function<bool()>& waitForChange) {
    timeoutTicks = std::max(timeoutTicks, 1);
    PresentLink present(link);
    RunObserver observer(wanted);
    ExchangeCycle cycle(present, observer, nullptr);
    // The cycle's own time-out then falls on the same tick as the run's.
    start.tickPreset = kTimeOutAfter + 2 - timeoutTicks;
    cycle.startCommand(start);

    ExchangeRunResult result;
    const auto ended = [&] {
        if (observer.reply) {
            result.outcome = ExchangeRunResult::Outcome::Reply;
            result.text = *observer.reply;
            return true;
        }
        if (observer.message) {
            result.outcome = ExchangeRunResult::Outcome::DosimeterMessage;
            result.text = *observer.message;
            return true;
        }
        return false;
    };
    while (true) {
        while (waitForChange && waitForChange()) {
            cycle.lookForReplies();
            if (ended())
                return result;
        }
        if (waitForNextTick)
            waitForNextTick();
        cycle.tick();
        ++result.ticks;
        if (ended())
            return result;
        // The cycle says nothing at its time-out when a reply of the other kind has
        // ended the exchange meanwhile; the run ends on that tick all the same.
        if (observer.timedOutSeen || result.ticks >= timeoutTicks) {
            result.outcome = ExchangeRunResult::Outcome::TimedOut;
            return result;
        }
    }
}

} // namespace dm
