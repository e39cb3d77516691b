// The exchange cycle tick by tick, against a scripted link, checked by its typed events.
#include "link/exchange_cycle.h"

#include "core/string_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace dm {
namespace {

// A link whose next statuses and polls are scripted; unscripted ticks see a present
// dosimeter and no files.
class ScriptedLink : public ExchangeLink {
public:
    std::deque<int> statuses;
    std::deque<TakenReplies> polls;
    std::deque<TakenReplies> finishedPolls; // looks between ticks
    int idleStatus = kLinkPresent;
    std::vector<std::string> sent;
    std::vector<std::string> delivered; // what each look said it handed on ("P", "PL", "")
    std::vector<std::string>* events = nullptr;

    int takeLinkStatus() override {
        if (statuses.empty())
            return idleStatus;
        const int s = statuses.front();
        statuses.pop_front();
        return s;
    }
    TakenReplies pollReplyFiles() override { return take(polls); }
    TakenReplies pollFinishedReplyFiles() override { return take(finishedPolls); }
    static TakenReplies take(std::deque<TakenReplies>& from) {
        if (from.empty())
            return {};
        TakenReplies p = std::move(from.front());
        from.pop_front();
        return p;
    }
    void sendCommandFile(const std::string& bytes) override {
        sent.push_back(bytes);
        if (events) events->push_back("send " + bytes);
    }
    void repliesDelivered(ReplyKinds r) override {
        delivered.push_back(std::string(r.parameters ? "P" : "") + (r.archive ? "A" : "") + (r.result ? "L" : ""));
    }
    std::optional<std::string> pushFailure, linkFailure; // each told once
    std::optional<std::string> takePushFailure() override { return std::exchange(pushFailure, std::nullopt); }
    std::optional<std::string> takeLinkFailure() override { return std::exchange(linkFailure, std::nullopt); }
};

// Keeps the cycle's typed events in order, as words.
class RecordingObserver : public ExchangeObserver {
public:
    std::vector<std::string> events;
    bool isBusy = true;
    int bar = -1;

    void busy(bool b) override {
        isBusy = b;
        events.push_back(b ? "busy" : "free");
    }
    void progress(int percent) override {
        bar = percent;
        events.push_back("progress " + std::to_string(percent));
    }
    void parametersReceived(const std::string& reply) override { events.push_back("parameters " + reply); }
    void archiveReceived(const std::string& reply) override { events.push_back("archive " + reply); }
    void dosimeterMessage(const std::string& text) override { events.push_back("message " + text); }
    void timedOut() override { events.push_back("timed out"); }
    void arrived() override { events.push_back("arrived"); }
    void gone() override { events.push_back("gone"); }
    void requestSent(ExchangeRequest r) override { events.push_back("request " + std::to_string(static_cast<int>(r))); }
    void dosimeterIdentified() override { events.push_back("identified"); }
    void departed(bool cutShort) override { events.push_back(cutShort ? "departed, cut short" : "departed"); }
    void pushFailed(const std::string& why) override { events.push_back("push failed: " + why); }
    void linkFailed(const std::string& why) override { events.push_back("link failed: " + why); }

    int count(const std::string& event) const {
        return static_cast<int>(std::count(events.begin(), events.end(), event));
    }
    // The events that say more than busy/free and progress.
    std::vector<std::string> outcomes() const {
        std::vector<std::string> out;
        for (const std::string& e : events)
            if (e != "busy" && e != "free" && e.rfind("progress", 0) != 0) out.push_back(e);
        return out;
    }
};

// One look's replies.
TakenReplies Params(std::string text, std::optional<std::string> result = std::nullopt) {
    TakenReplies r;
    r.parameters = std::move(text);
    r.result = std::move(result);
    return r;
}
TakenReplies Archive(std::string text) {
    TakenReplies r;
    r.archive = std::move(text);
    return r;
}
TakenReplies Result(std::string text) {
    TakenReplies r;
    r.result = std::move(text);
    return r;
}

const std::string kGetParams = "get_parameters=255\r\n#\r\n";

const std::string kParametersRequest = "request " + std::to_string(static_cast<int>(ExchangeRequest::Parameters));

ExchangeStart GetParametersStart() {
    ExchangeStart s;
    s.request = ExchangeRequest::Parameters;
    s.started = true;
    s.files = {kGetParams};
    s.progressSteps = 8;
    return s;
}
ExchangeStart SendChangesStart() {
    ExchangeStart s;
    s.started = true;
    s.request = ExchangeRequest::Changes;
    s.files = {"a = 1\r\n", "b = 2\r\n\r\nget_parameters=255\r\n#\r\n"};
    s.progressSteps = 8;
    return s;
}
ExchangeStart EraseStart() {
    ExchangeStart s;
    s.started = true;
    s.files = {"total_val=0\r\ntotal_time=0\r\nget_parameters=255\r\n#\r\n"};
    s.tickPreset = -4;
    return s;
}
ExchangeStart HistoryStart() {
    ExchangeStart s;
    s.started = true;
    s.files = {"get_archive\r\n"};
    s.tickPreset = -30;
    s.progressSteps = 39;
    s.resetHistoryView = true;
    return s;
}

class ExchangeCycleTest : public ::testing::Test {
protected:
    ExchangeCycleTest() { link.events = &observer.events; }

    void ticks(int n) {
        for (int i = 0; i < n; ++i) cycle.tick();
    }
    void enqueuePoll(TakenReplies replies = {}) { link.polls.push_back(std::move(replies)); }
    // Ticks until the time-out is reported; the tick number, or 0 when not within limit.
    int ticksUntilTimedOut(int limit) {
        for (int t = 1; t <= limit; ++t) {
            const int before = observer.count("timed out");
            cycle.tick();
            if (observer.count("timed out") > before)
                return t;
        }
        return 0;
    }

    ScriptedLink link;
    RecordingObserver observer;
    ExchangeCycle cycle{link, observer, GetParametersStart};
};

TEST_F(ExchangeCycleTest, ArrivalRequestsParametersAndTheReplyEndsTheExchange) {
    link.statuses = {kLinkArrived};
    enqueuePoll();
    cycle.tick();
    ASSERT_EQ(link.sent, std::vector<std::string>{kGetParams});
    EXPECT_EQ(observer.events, (std::vector<std::string>{"arrived", "busy", "progress 0", "send " + kGetParams,
                                                         kParametersRequest}));
    const ExchangeState waiting = cycle.state();
    EXPECT_EQ(waiting.phase, ExchangeState::Phase::Waiting);
    EXPECT_EQ(waiting.request, ExchangeRequest::Parameters);
    EXPECT_EQ(waiting.ticksLeft, 13);
    EXPECT_TRUE(waiting.inRange);

    enqueuePoll();
    enqueuePoll(Params("serial = 17\r\nneutr\r\n"));
    ticks(2);
    // The first parameters since the arrival say which dosimeter it is.
    EXPECT_EQ(observer.outcomes(), (std::vector<std::string>{"arrived", "send " + kGetParams, kParametersRequest,
                                                             "parameters serial = 17\r\nneutr\r\n",
                                                             "identified"}));
    EXPECT_FALSE(observer.isBusy);
    EXPECT_EQ(observer.bar, 100);
    EXPECT_EQ(cycle.state().phase, ExchangeState::Phase::Idle);

    // The exchange is over: its deadline passes without a time-out.
    ticks(30);
    EXPECT_EQ(observer.count("timed out"), 0);
}

TEST_F(ExchangeCycleTest, RepliesAndResultsEndTheExchangeOrWait) {
    // Parameters with a result reply count as parameters.
    cycle.startCommand(GetParametersStart());
    enqueuePoll(Params("p", "Error"));
    cycle.tick();
    EXPECT_EQ(observer.count("parameters p"), 1);
    EXPECT_EQ(observer.count("message Error"), 0);
    enqueuePoll(Params("p", "accepted"));
    cycle.tick();
    EXPECT_EQ(observer.count("parameters p"), 2);
    // A message comes again on its own; an acceptance goes with the reply.
    EXPECT_EQ(link.delivered, (std::vector<std::string>{"P", "PL"}));

    // An acceptance only announces the parameters: the exchange keeps waiting.
    cycle.startCommand(SendChangesStart());
    observer.events.clear();
    enqueuePoll(Result("Changes accepted\r\n"));
    ticks(2);
    EXPECT_TRUE(observer.isBusy);
    EXPECT_TRUE(observer.outcomes().empty());

    // Any other text is the dosimeter's message ("Accepted" with a capital too).
    for (const char* text : {"Wrong key\r\nline 2\r\n", "Accepted"}) {
        cycle.startCommand(EraseStart());
        enqueuePoll(Result(text));
        cycle.tick();
        EXPECT_EQ(observer.outcomes().back(), std::string("message ") + text);
        EXPECT_FALSE(observer.isBusy);
        EXPECT_EQ(observer.bar, 100);
    }
    ticks(30);
    EXPECT_EQ(observer.count("timed out"), 0); // no time-out after an answer

    // Parameters and an archive together are ambiguous: not dispatched, every file stays.
    cycle.startCommand(GetParametersStart());
    observer.events.clear();
    link.delivered.clear();
    TakenReplies both = Params("p", "r");
    both.archive = "a";
    enqueuePoll(both);
    cycle.tick();
    EXPECT_TRUE(observer.outcomes().empty());
    EXPECT_TRUE(observer.isBusy);
    EXPECT_EQ(link.delivered, std::vector<std::string>{""});
}

TEST_F(ExchangeCycleTest, TimeOutFallsOnTheDeadlineOfEachCommand) {
    struct Case {
        const char* name;
        ExchangeStart start;
        int timeOutTick;
    } cases[] = {{"get parameters", GetParametersStart(), 14},
                 {"send changes", SendChangesStart(), 14},
                 {"erase", EraseStart(), 18},
                 {"history", HistoryStart(), 44}};
    for (const Case& c : cases) {
        ScriptedLink l;
        RecordingObserver o;
        ExchangeCycle x{l, o, GetParametersStart};
        for (int i = 0; i < 7; ++i) x.tick(); // a counter mid-way is overwritten by the preset
        x.startCommand(c.start);
        EXPECT_EQ(x.state().ticksLeft, c.timeOutTick) << c.name;
        for (int t = 1; t < c.timeOutTick; ++t) x.tick();
        EXPECT_EQ(o.count("timed out"), 0) << c.name;
        EXPECT_TRUE(o.isBusy) << c.name;
        x.tick();
        EXPECT_EQ(o.count("timed out"), 1) << c.name;
        EXPECT_FALSE(o.isBusy) << c.name;
        EXPECT_EQ(o.bar, 100) << c.name;
        EXPECT_EQ(x.state().phase, ExchangeState::Phase::Idle) << c.name;
    }
}

TEST_F(ExchangeCycleTest, ReplyAfterTheTimeOutIsStillReported) {
    cycle.startCommand(GetParametersStart());
    EXPECT_EQ(ticksUntilTimedOut(14), 14);
    enqueuePoll();
    enqueuePoll(Params("late"));
    ticks(3);
    EXPECT_EQ(observer.outcomes().back(), "parameters late");
}

TEST_F(ExchangeCycleTest, ResultTakenInOnTheDeadlineTickGivesNoTimeOutButEndsTheWait) {
    cycle.startCommand(GetParametersStart());
    for (int i = 0; i < 13; ++i) enqueuePoll();
    enqueuePoll(Result("Changes accepted"));
    ticks(14);
    EXPECT_EQ(observer.count("timed out"), 0);
    EXPECT_FALSE(observer.isBusy);
}

TEST_F(ExchangeCycleTest, DepartureEndsTheWait) {
    cycle.startCommand(HistoryStart());
    observer.events.clear();
    link.statuses = {kLinkGone};
    cycle.tick();
    EXPECT_EQ(observer.events, (std::vector<std::string>{"gone", "busy", "progress 0", "departed, cut short"}));
    const ExchangeState st = cycle.state();
    EXPECT_EQ(st.phase, ExchangeState::Phase::Idle);
    EXPECT_FALSE(st.inRange);
    EXPECT_FALSE(cycle.dosimeterInRange());
    // Nothing is waited for any more: no time-out follows the departure, and the empty
    // discoveries repeated while none is in range are no departures.
    link.idleStatus = kLinkNone;
    link.statuses = {kLinkNone, kLinkGone, kLinkNone, kLinkGone};
    ticks(50);
    EXPECT_EQ(observer.count("timed out"), 0);
    EXPECT_EQ(observer.count("gone"), 3);
    EXPECT_EQ(observer.count("departed, cut short") + observer.count("departed"), 1);
    EXPECT_TRUE(observer.isBusy);
}

TEST_F(ExchangeCycleTest, IdleDeadlineFreesTheCommandsOnlyWithADosimeterInRange) {
    for (int i = 0; i < 14; ++i) cycle.tick();
    EXPECT_FALSE(observer.isBusy);
    EXPECT_EQ(observer.count("timed out"), 0);

    link.idleStatus = kLinkNone;
    cycle.startCommand(GetParametersStart());
    ticks(30);
    EXPECT_TRUE(observer.isBusy);
    EXPECT_EQ(observer.count("timed out"), 0);
}

TEST_F(ExchangeCycleTest, ProgressMovesWhileWaitingAndIsFullOnlyAtTheEnd) {
    auto barsOver = [this](int n) {
        std::vector<int> bars;
        for (int i = 0; i < n; ++i) {
            cycle.tick();
            bars.push_back(observer.bar);
        }
        return bars;
    };
    cycle.startCommand(GetParametersStart());
    EXPECT_EQ(observer.bar, 0);
    // Full only when the wait is over: past its expected ticks the bar holds short of it.
    EXPECT_EQ(barsOver(14), (std::vector<int>{12, 25, 37, 50, 62, 75, 87, 95, 95, 95, 95, 95, 95, 100}));
    EXPECT_EQ(observer.count("timed out"), 1);

    // The erase has no expected duration of its own: it fills over the ticks to its deadline.
    cycle.startCommand(EraseStart());
    EXPECT_EQ(barsOver(3), (std::vector<int>{5, 11, 16}));
    enqueuePoll(Result("refused"));
    cycle.tick();
    EXPECT_EQ(observer.bar, 100);

    // A long history still moves, by less than a percent a tick.
    ExchangeStart longHistory = HistoryStart();
    longHistory.progressSteps = 250;
    cycle.startCommand(longHistory);
    EXPECT_EQ(barsOver(43).back(), 17);

    // Send changes empties the bar before the push and counts after it.
    observer.events.clear();
    cycle.startCommand(SendChangesStart());
    EXPECT_EQ(observer.events, (std::vector<std::string>{"busy", "progress 0", "send a = 1\r\n",
                                                         "send b = 2\r\n\r\nget_parameters=255\r\n#\r\n",
                                                         "request 2"}));
    EXPECT_EQ(cycle.state().request, ExchangeRequest::Changes);

}

// A reply proven whole between ticks is dispatched at once, as its tick would have done;
// idle, the look does not even ask the link.
TEST_F(ExchangeCycleTest, ReplyBetweenTicksEndsTheWaitAtOnceWithoutCountingATick) {
    link.finishedPolls.push_back(Params("p"));
    EXPECT_FALSE(cycle.lookForReplies()); // nothing waited for
    EXPECT_EQ(link.finishedPolls.size(), 1u);
    cycle.startCommand(GetParametersStart());
    ticks(2);
    const int counter = cycle.tickCounter();
    observer.events.clear();
    EXPECT_TRUE(cycle.lookForReplies());
    EXPECT_EQ(observer.events, (std::vector<std::string>{"parameters p", "free", "progress 100"}));
    EXPECT_EQ(link.delivered.back(), "P");
    EXPECT_EQ(cycle.tickCounter(), counter);
    EXPECT_EQ(cycle.state().phase, ExchangeState::Phase::Idle);
}

// A push that failed on the link's push thread ends its command at the next look, with
// the bar emptied and the commands free again; a failure told after the command ended
// is not pinned on the next one; a failed link is told once, with the departure.
TEST_F(ExchangeCycleTest, FailedPushEndsTheCommandAtTheNextLookAndAFailedLinkIsTold) {
    cycle.startCommand(SendChangesStart());
    ticks(1);
    observer.events.clear();
    link.pushFailure = "tcp:h:1: connect failed";
    EXPECT_FALSE(cycle.lookForReplies());
    EXPECT_EQ(observer.events, (std::vector<std::string>{"push failed: tcp:h:1: connect failed", "free", "progress 0"}));
    EXPECT_EQ(cycle.state().phase, ExchangeState::Phase::Idle);
    ticks(20);
    EXPECT_EQ(observer.count("timed out"), 0);

    link.pushFailure = "late";
    cycle.tick();
    EXPECT_EQ(observer.count("push failed: late"), 0);

    cycle.startCommand(GetParametersStart());
    link.linkFailure = "sir:/dev/ttyUSB0: the port is gone";
    link.statuses = {kLinkGone};
    observer.events.clear();
    ticks(2);
    EXPECT_EQ(observer.outcomes(), (std::vector<std::string>{"link failed: sir:/dev/ttyUSB0: the port is gone",
                                                             "gone", "departed, cut short"}));
}

TEST_F(ExchangeCycleTest, RefusedStartChangesNothingAndLanguageSwitchEndsTheWait) {
    ticks(5);
    observer.events.clear();
    ExchangeStart refused = GetParametersStart();
    refused.started = false;
    cycle.startCommand(refused);
    EXPECT_TRUE(observer.events.empty());
    EXPECT_EQ(cycle.tickCounter(), 5);

    cycle.startCommand(GetParametersStart());
    ticks(5);
    cycle.resetForLanguageSwitch();
    EXPECT_FALSE(observer.isBusy);
    EXPECT_EQ(cycle.state().phase, ExchangeState::Phase::Idle);
    ticks(20);
    EXPECT_EQ(observer.count("timed out"), 0);
    EXPECT_EQ(observer.bar, 100);
}

} // namespace
} // namespace dm

namespace dm {
namespace {

class ExchangeRunTest : public ::testing::Test {
protected:
    ExchangeRunResult run(WantedReply wanted, int timeout, ExchangeStart start = GetParametersStart()) {
        return RunExchangeToReply(link, start, wanted, timeout, [this] { ++waits; });
    }
    void enqueue(TakenReplies replies = {}) { link.polls.push_back(std::move(replies)); }

    ScriptedLink link;
    int waits = 0;
};

TEST_F(ExchangeRunTest, PushesOnceAndReturnsTheWantedReply) {
    // Discovery events do not disturb a run: a departure would end its wait.
    link.statuses = {kLinkArrived, kLinkGone, kLinkNone};
    enqueue();
    enqueue();
    enqueue(Params("params text"));
    const ExchangeRunResult r = run(WantedReply::Parameters, 14);
    EXPECT_EQ(r.outcome, ExchangeRunResult::Outcome::Reply);
    EXPECT_EQ(r.text, "params text");
    EXPECT_EQ(r.ticks, 3);
    EXPECT_EQ(waits, 3); // each tick waited for
    EXPECT_EQ(link.sent, std::vector<std::string>{kGetParams});
}

// The command-line run looks whenever the folder changes: an acceptance keeps it
// waiting, the reply ends it before the first tick.
TEST_F(ExchangeRunTest, LooksBetweenTicksEndTheRunWithoutWaitingForATick) {
    link.finishedPolls.push_back(Result("accepted"));
    link.finishedPolls.push_back(Params("params text"));
    int changes = 0;
    const ExchangeRunResult r = RunExchangeToReply(link, GetParametersStart(), WantedReply::Parameters, 14,
                                                   [this] { ++waits; }, [&] { return ++changes < 10; });
    EXPECT_EQ(r.outcome, ExchangeRunResult::Outcome::Reply);
    EXPECT_EQ(r.text, "params text");
    EXPECT_EQ(r.ticks, 0);
    EXPECT_EQ(waits, 0);
    EXPECT_EQ(changes, 2);
}

TEST_F(ExchangeRunTest, AcceptanceKeepsWaitingOtherTextsEndTheRun) {
    enqueue(Result("accepted"));
    enqueue(Params("p"));
    EXPECT_EQ(run(WantedReply::Parameters, 14).outcome, ExchangeRunResult::Outcome::Reply);

    link.polls.clear();
    enqueue(Result("Unknown command\r\n"));
    const ExchangeRunResult r = run(WantedReply::Archive, 44, HistoryStart());
    EXPECT_EQ(r.outcome, ExchangeRunResult::Outcome::DosimeterMessage);
    EXPECT_EQ(r.text, "Unknown command\r\n");
    EXPECT_EQ(r.ticks, 1);
}

TEST_F(ExchangeRunTest, APushThatFailedEndsTheRunOnTheNextTick) {
    link.pushFailure = "tcp:h:1: refused";
    const ExchangeRunResult r = run(WantedReply::Parameters, 14);
    EXPECT_EQ(r.outcome, ExchangeRunResult::Outcome::PushFailed);
    EXPECT_EQ(r.text, "tcp:h:1: refused");
    EXPECT_EQ(r.ticks, 1);
}

TEST_F(ExchangeRunTest, TimesOutOnTheGivenTick) {
    for (int timeout : {1, 2, 14, 44, 100}) {
        waits = 0;
        const ExchangeRunResult r = run(WantedReply::Parameters, timeout);
        EXPECT_EQ(r.outcome, ExchangeRunResult::Outcome::TimedOut) << timeout;
        EXPECT_EQ(r.ticks, timeout);
        EXPECT_EQ(waits, timeout);
    }
    // A nonsense time-out still gives the dosimeter one tick.
    EXPECT_EQ(run(WantedReply::Parameters, 0).ticks, 1);
    EXPECT_EQ(run(WantedReply::Parameters, -5).ticks, 1);
}

TEST_F(ExchangeRunTest, ReplyOfTheOtherKindDoesNotEndTheRunEarlyNorHangIt) {
    enqueue(Params("p"));
    TakenReplies both = Params("p");
    both.archive = "a";
    enqueue(both); // ambiguous: not dispatched
    const ExchangeRunResult r = run(WantedReply::Archive, 44, HistoryStart());
    EXPECT_EQ(r.outcome, ExchangeRunResult::Outcome::TimedOut);
    EXPECT_EQ(r.ticks, 44);

    enqueue();
    enqueue(Archive("archive text"));
    const ExchangeRunResult late = run(WantedReply::Archive, 44, HistoryStart());
    EXPECT_EQ(late.outcome, ExchangeRunResult::Outcome::Reply);
    EXPECT_EQ(late.text, "archive text");
}

TEST_F(ExchangeRunTest, ReplyOnTheTimeOutTickStillCounts) {
    for (int i = 0; i < 4; ++i) enqueue();
    enqueue(Params("just in time"));
    const ExchangeRunResult r = run(WantedReply::Parameters, 5);
    EXPECT_EQ(r.outcome, ExchangeRunResult::Outcome::Reply);
    EXPECT_EQ(r.ticks, 5);
}

} // namespace
} // namespace dm

namespace dm {
namespace {

// The starts the command composition hands over run the cycle as the buttons do.
class YesUser : public UserDialogs {
public:
    void showMessage(const std::string&) override {}
    bool askYesNo(const std::string&) override { return true; }
    std::optional<std::string> askSaveFileName() override { return std::nullopt; }
    std::optional<std::string> askPassword() override { return std::nullopt; }
};

TEST(ExchangeCycleWithComposedCommands, PushesTheFilesAndTimesOutWhereTheCommandSays) {
    YesUser yes;
    struct Case {
        ExchangeStart start;
        int timeOutTick;
    } cases[] = {{ComposeGetParameters(0), 14}, {ComposeEraseTotalDose(Language::English, yes), 18}};
    for (const Case& c : cases) {
        ScriptedLink link;
        RecordingObserver observer;
        ExchangeCycle cycle(link, observer, [] { return ComposeGetParameters(0); });
        cycle.startCommand(c.start);
        EXPECT_EQ(link.sent, c.start.files);
        for (int t = 1; t < c.timeOutTick; ++t) cycle.tick();
        EXPECT_EQ(observer.count("timed out"), 0);
        cycle.tick();
        EXPECT_EQ(observer.count("timed out"), 1);
    }
    ScriptedLink link;
    RecordingObserver observer;
    ExchangeCycle cycle(link, observer, [] { return ComposeGetParameters(1); });
    link.statuses = {kLinkArrived};
    cycle.tick();
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0], GetParametersCommand(1)); // the arrival asks with the mask in force
}

} // namespace
} // namespace dm
