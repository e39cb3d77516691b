#include "link/exchange_cycle.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace dm {

namespace {

// The counter value after which a tick ends the exchange: with the preset T the
// time-out falls on tick 14 - T.
constexpr int kTimeOutAfter = 12;

// Past the ticks an answer should take the bar holds short of full: it is still awaited.
constexpr int kMostWhileWaiting = 95;

} // namespace

ExchangeCycle::ExchangeCycle(ExchangeLink& link, ExchangeObserver& observer,
                             std::function<ExchangeStart()> composeGetParameters)
    : link_(link), observer_(observer), composeGetParameters_(std::move(composeGetParameters)) {}


ExchangeState ExchangeCycle::state() const {
    ExchangeState st;
    st.inRange = inRange_;
    if (waitingFor_) {
        st.phase = ExchangeState::Phase::Waiting;
        st.request = *waitingFor_;
        st.ticksLeft = std::max(0, kTimeOutAfter + 2 - tickCounter_);
    }
    return st;
}

void ExchangeCycle::resetCounters() {
    tickCounter_ = 0;
    progressRunning_ = false;
    progressTicks_ = 0;
    waitingFor_.reset();
}

void ExchangeCycle::resetForLanguageSwitch() {
    resetCounters();
    observer_.progress(100);
    observer_.busy(false);
}

void ExchangeCycle::beginProgress(int steps) {
    progressRunning_ = true;
    progressTicks_ = 0;
    progressSteps_ = std::max(1, steps);
}

void ExchangeCycle::stopProgress(int percent) {
    progressRunning_ = false;
    observer_.progress(percent);
}

void ExchangeCycle::startCommand(const ExchangeStart& start) {
    if (!start.started)
        return;
    waitingFor_ = start.request;
    observer_.busy(true);
    tickCounter_ = start.tickPreset;
    // Every command starts from an empty bar and counts once its files are out; one
    // without an expected duration of its own fills over the ticks to its deadline.
    observer_.progress(0);
    link_.sendCommandFiles(start.files);
    beginProgress(start.progressSteps > 0 ? start.progressSteps : kTimeOutAfter + 2 - start.tickPreset);
    // A start with nothing to push (no parameter rows) still waits, but requested nothing.
    if (!start.files.empty())
        observer_.requestSent(start.request);
}

void ExchangeCycle::finishWaiting() {
    waitingFor_.reset();
    observer_.busy(false);
    stopProgress(100);
}

// A result reply beside a parameter or archive reply is not looked at: an acceptance has
// served its purpose and is handed on with it, any other text comes again on its own.
ReplyKinds ExchangeCycle::dispatch(const TakenReplies& replies) {
    ReplyKinds delivered;
    // Parameters and an archive together are ambiguous: nothing is handed on.
    if (replies.parameters && replies.archive)
        return delivered;
    const bool acceptanceBeside = replies.result && replies.result->find("accepted") != std::string::npos;
    if (replies.parameters) {
        observer_.parametersReceived(*replies.parameters);
        finishWaiting();
        if (std::exchange(unidentified_, false))
            observer_.dosimeterIdentified();
        delivered.parameters = true;
        delivered.result = acceptanceBeside;
        return delivered;
    }
    if (replies.archive) {
        observer_.archiveReceived(*replies.archive);
        finishWaiting();
        delivered.archive = true;
        delivered.result = acceptanceBeside;
        return delivered;
    }
    if (replies.result) {
        // An acceptance only announces the parameter reply that follows it.
        if (!acceptanceBeside) {
            observer_.dosimeterMessage(*replies.result);
            finishWaiting();
        }
        delivered.result = true;
    }
    return delivered;
}

void ExchangeCycle::advanceProgress() {
    if (!progressRunning_)
        return;
    ++progressTicks_;
    const long long percent = static_cast<long long>(progressTicks_) * 100 / progressSteps_;
    observer_.progress(static_cast<int>(std::min<long long>(percent, kMostWhileWaiting)));
}

void ExchangeCycle::checkTimeOut(int linkStatus, bool replied) {
    const int remembered = tickCounter_++;
    if (remembered <= kTimeOutAfter)
        return;
    // Idle, the same rhythm frees the commands again while a dosimeter is in range.
    const bool wasWaiting = waitingFor_.has_value();
    waitingFor_.reset();
    if (linkStatus == kLinkNone) {
        observer_.busy(true);
        // No dosimeter to answer: the wait ends without one, the bar empty.
        if (wasWaiting || progressRunning_)
            stopProgress(0);
    } else {
        if (wasWaiting && !replied)
            observer_.timedOut();
        observer_.busy(false);
        if (wasWaiting || progressRunning_)
            stopProgress(100);
    }
    tickCounter_ = 0;
}

void ExchangeCycle::checkFailures() {
    if (const std::optional<std::string> failed = link_.takePushFailure(); failed && waitingFor_) {
        waitingFor_.reset();
        observer_.pushFailed(*failed);
        observer_.busy(!inRange_);
        stopProgress(0);
    }
    if (const std::optional<std::string> failed = link_.takeLinkFailure())
        observer_.linkFailed(*failed);
}

void ExchangeCycle::tick() {
    checkFailures();
    const int status = link_.takeLinkStatus();
    const bool wasInRange = inRange_;
    inRange_ = status == kLinkArrived || status == kLinkPresent;
    if (status == kLinkNone)
        observer_.busy(true);
    bool startedNow = false;
    if (status == kLinkArrived) {
        unidentified_ = true;
        observer_.arrived();
        if (composeGetParameters_)
            startCommand(composeGetParameters_());
        startedNow = waitingFor_.has_value();
    }
    if (status == kLinkGone) {
        const bool cutShort = waitingFor_.has_value();
        waitingFor_.reset();
        unidentified_ = false;
        observer_.gone();
        observer_.busy(true);
        // Nothing is waited for any more, and nothing of the dosimeter is shown.
        if (wasInRange || cutShort || progressRunning_) {
            stopProgress(0);
            observer_.departed(cutShort);
        }
    }

    const TakenReplies replies = link_.pollReplyFiles();
    if (!replies.empty())
        link_.repliesDelivered(dispatch(replies));

    // A command pushed on this tick has not waited yet.
    if (!startedNow)
        advanceProgress();
    checkTimeOut(status, !replies.empty());
}

bool ExchangeCycle::lookForReplies() {
    if (!waitingFor_)
        return false;
    checkFailures();
    if (!waitingFor_)
        return false;
    const TakenReplies replies = link_.pollFinishedReplyFiles();
    if (replies.empty())
        return false;
    // A reply that ends the wait fills the bar with it.
    link_.repliesDelivered(dispatch(replies));
    return true;
}

namespace {

// The link as the command-line run sees it: the dosimeter counts as present, so
// neither a discovery event nor its absence disturbs the one exchange asked for.
class PresentLink : public ExchangeLinkAdapter<ExchangeLink> {
public:
    using ExchangeLinkAdapter::ExchangeLinkAdapter;
    int takeLinkStatus() override { return kLinkPresent; }
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
    void pushFailed(const std::string& why) override { failure = {ExchangeRunResult::Outcome::PushFailed, why}; }
    void linkFailed(const std::string& why) override { failure = {ExchangeRunResult::Outcome::LinkFailed, why}; }
    void arrived() override {}
    void gone() override {}

    std::optional<std::string> reply;
    std::optional<std::string> message;
    std::optional<std::pair<ExchangeRunResult::Outcome, std::string>> failure;
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
        if (observer.failure) {
            result.outcome = observer.failure->first;
            result.text = observer.failure->second;
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
