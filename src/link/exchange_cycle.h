#pragma once
// The once-a-second exchange with the dosimeter: reacts to it coming into and leaving
// range, looks for reply files, reports each reply, advances the progress and ends an
// unanswered exchange at its deadline, or at once when the dosimeter leaves.
//
// No Qt and no clock here: the owner calls tick() once a second (the window from its
// timer, the command-line tool from a sleep loop, tests by hand), and everything the
// cycle does goes through the link interface below and out as typed events. Time-outs
// and progress steps count ticks. Between ticks the owner may call lookForReplies() as
// often as it likes, so a reply whose file is proven whole is taken in at once instead
// of at the next tick.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/link_status.h"
#include "link/replies.h"
#include "params/command_files.h" // ExchangeStart: how a command starts an exchange

namespace dm {

// Link status values as the device link reports them.
constexpr int kLinkNone = LINK_NONE;
constexpr int kLinkArrived = LINK_ARRIVED;
constexpr int kLinkGone = LINK_GONE;
constexpr int kLinkPresent = LINK_PRESENT;

// What the cycle needs of the device link.
class ExchangeLink {
public:
    virtual ~ExchangeLink() = default;
    virtual int takeLinkStatus() = 0;   // consuming read of the one-shot events
    virtual TakenReplies pollReplyFiles() = 0; // the replies one look takes in
    // The same between ticks, for files proven whole only; cheap when nothing changed.
    virtual TakenReplies pollFinishedReplyFiles() { return {}; }
    virtual void sendCommandFile(const std::string& bytes) = 0;
    // One command's files, in order. The device link hands them to its own push thread
    // and returns at once; a failure comes back through takePushFailure.
    virtual void sendCommandFiles(const std::vector<std::string>& files) {
        for (const std::string& file : files)
            sendCommandFile(file);
    }
    // After a poll: the replies that were handed on; only their files may go. The
    // others stay to be offered again.
    virtual void repliesDelivered(ReplyKinds /*replies*/) {}
    // Why the last command's push failed, once.
    virtual std::optional<std::string> takePushFailure() { return std::nullopt; }
    // Why the link itself stopped working (a port unplugged), once.
    virtual std::optional<std::string> takeLinkFailure() { return std::nullopt; }
};

// Adapts any object with the device link's members (takeLinkStatus, pollReplyFiles,
// sendCommandFile, repliesDelivered and the failures) to ExchangeLink.
template <class Link>
class ExchangeLinkAdapter : public ExchangeLink {
public:
    explicit ExchangeLinkAdapter(Link& link) : link_(link) {}
    int takeLinkStatus() override { return link_.takeLinkStatus(); }
    TakenReplies pollReplyFiles() override { return link_.pollReplyFiles(); }
    TakenReplies pollFinishedReplyFiles() override { return link_.pollFinishedReplyFiles(); }
    void sendCommandFile(const std::string& bytes) override { link_.sendCommandFile(bytes); }
    void sendCommandFiles(const std::vector<std::string>& files) override { link_.sendCommandFiles(files); }
    void repliesDelivered(ReplyKinds replies) override { link_.repliesDelivered(replies); }
    std::optional<std::string> takePushFailure() override { return link_.takePushFailure(); }
    std::optional<std::string> takeLinkFailure() override { return link_.takeLinkFailure(); }

private:
    Link& link_;
};

// What the cycle reports. The window turns the events into widgets, the command-line
// run into its outcome, tests into a list.
class ExchangeObserver {
public:
    virtual ~ExchangeObserver() = default;
    // true: no command may start now (one is running, or no dosimeter is in range).
    virtual void busy(bool busy) = 0;
    virtual void progress(int percent) = 0; // 0..100; 100 once the command has ended
    // The reply texts as the link took them in. Their files go once these return, so a
    // reply is kept safe before they return.
    virtual void parametersReceived(const std::string& reply) = 0;
    virtual void archiveReceived(const std::string& reply) = 0;
    virtual void dosimeterMessage(const std::string& text) = 0;
    // The command waited for had no reply by its deadline.
    virtual void timedOut() = 0;
    // A dosimeter came into range; the automatic parameter read follows at once.
    virtual void arrived() = 0;
    // The dosimeter left range.
    virtual void gone() = 0;
    // The command files of a request were pushed; its answer is now waited for.
    virtual void requestSent(ExchangeRequest /*request*/) {}
    // Right after the first parameter reply since a dosimeter came into range: that reply
    // tells which dosimeter it is.
    virtual void dosimeterIdentified() {}
    // After gone(), when a dosimeter had been in range (an empty discovery repeats while
    // none is). cutShort: a command was still waiting and has ended without its answer.
    virtual void departed(bool /*cutShort*/) {}
    // The command's files did not reach the dosimeter; the command has ended.
    virtual void pushFailed(const std::string& /*why*/) {}
    // The link stopped working (its port went away, say); one line on why.
    virtual void linkFailed(const std::string& /*why*/) {}
};

// Where the exchange stands.
struct ExchangeState {
    enum class Phase { Idle, Waiting };
    Phase phase = Phase::Idle;
    ExchangeRequest request = ExchangeRequest::None; // while waiting: what it asked for
    int ticksLeft = 0;   // while waiting: ticks until its deadline
    bool inRange = false;
};

class ExchangeCycle {
public:
    // composeGetParameters gives the "Get parameters" start (it depends on the
    // protected-parameter mask, which the owner holds); it is used when a dosimeter
    // arrives.
    ExchangeCycle(ExchangeLink& link, ExchangeObserver& observer,
                  std::function<ExchangeStart()> composeGetParameters);

    // One timer tick.
    void tick();

    // While a command waits: a look for replies proven whole, dispatched as the tick
    // would; no tick is counted. True when a reply was taken in.
    bool lookForReplies();

    // Starts an exchange as the command buttons do. Nothing happens when
    // start.started is false.
    void startCommand(const ExchangeStart& start);

    // After the language switch has re-initialised the window and relabelled the last
    // parameter reply: tick counter and step 0, progress over, not busy.
    void resetForLanguageSwitch();

    ExchangeState state() const;
    // Whether the last link status read showed a dosimeter in range. The window asks
    // this instead of the link: reading the link consumes its one-time events.
    bool dosimeterInRange() const { return inRange_; }

    int tickCounter() const { return tickCounter_; }

    // Start state of the window's initialisation: everything 0.
    void resetCounters();

private:
    void beginProgress(int steps);
    // Ends a running progress with the bar at this value.
    void stopProgress(int percent);
    void finishWaiting();
    // The replies handed on.
    ReplyKinds dispatch(const TakenReplies& replies);
    void advanceProgress();
    void checkTimeOut(int linkStatus, bool replied);
    // Tells a failed push (ending the command it belonged to) and a failed link.
    void checkFailures();

    ExchangeLink& link_;
    ExchangeObserver& observer_;
    std::function<ExchangeStart()> composeGetParameters_;
    std::optional<ExchangeRequest> waitingFor_; // nothing: idle
    int tickCounter_ = 0;
    // While a command waits the bar fills over the ticks its answer should take.
    bool progressRunning_ = false;
    int progressSteps_ = 1;
    int progressTicks_ = 0;
    bool inRange_ = false;
    bool unidentified_ = false; // arrived, no parameter reply from it yet
};

// One exchange run to its end without a window, as the command-line tool does it:
// the command is pushed at once (the dosimeter is taken to be in range throughout) and
// the cycle ticks until the wanted reply is dispatched, the dosimeter answers with a
// message of its own, or timeoutTicks ticks have passed.
enum class WantedReply { Parameters, Archive };

struct ExchangeRunResult {
    enum class Outcome { Reply, DosimeterMessage, TimedOut, PushFailed, LinkFailed };
    Outcome outcome = Outcome::TimedOut;
    std::string text;   // the reply text, the dosimeter's message as it came, or why it failed
    int ticks = 0;      // ticks run
};

// waitForNextTick is called before every tick (the tool sleeps a second there).
// timeoutTicks below 1 counts as 1. waitForChange, when given, is called before that
// until it returns false: it waits (the tool: for the folder to change, at most until
// the tick is due) and returns true when a look for replies is worth it.
ExchangeRunResult RunExchangeToReply(ExchangeLink& link, ExchangeStart start, WantedReply wanted,
                                     int timeoutTicks,
                                     const std::function<void()>& waitForNextTick,
                                     const std::function<bool()>& waitForChange = nullptr);

} // namespace dm
