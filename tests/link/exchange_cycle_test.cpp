// The exchange cycle tick by tick, against a scripted link and a recording screen.
#include "link/exchange_cycle.h"

#include "core/string_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace dm {
namespace {

// A link whose next statuses and polls are scripted; unscripted ticks see a present
// dosimeter and no files.
class ScriptedLink : public ExchangeLink {
public:
    std::deque<int> statuses;
    struct Poll {
        int sum = 0;
        std::string result, params, archive; // slots written when non-empty
    };
    std::deque<Poll> polls;
    int idleStatus = kLinkPresent;
    std::string result, params, archive;
    std::vector<std::string> sent;
    std::vector<int> delivered; // what each tick said it handed on
    std::vector<std::string>* events = nullptr;

    int GetLinkStatus() override {
        if (statuses.empty())
            return idleStatus;
        const int s = statuses.front();
        statuses.pop_front();
        return s;
    }
    int PollReplyFiles() override {
        if (polls.empty())
            return 0;
        Poll p = polls.front();
        polls.pop_front();
        if (!p.result.empty()) result = p.result;
        if (!p.params.empty()) params = p.params;
        if (!p.archive.empty()) archive = p.archive;
        return p.sum;
    }
    std::string ResultReply() const override { return result; }
    std::string ParamReply() const override { return params; }
    std::string ArchiveReply() const override { return archive; }
    void ClearReplies() override {
        result.clear();
        params.clear();
        archive.clear();
        if (events) events->push_back("clear replies");
    }
    void SendCommandFile(const std::string& bytes) override {
        sent.push_back(bytes);
        if (events) events->push_back("send " + bytes);
    }
    void RepliesDelivered(int replies) override { delivered.push_back(replies); }
};

class RecordingScreen : public ExchangeScreen {
public:
    std::map<int, bool> buttons{{kButtonGetParameters, false}, {kButtonGetHistory, false},
                                {kButtonSendChanges, false}, {kButtonEraseTotal, false}};
    int tab = 0;
    int bar = -1;
    std::vector<std::string> padded, raw, paramTexts, archiveTexts;
    int signals = 0;
    std::vector<std::string> events;

    void disableActions() override { setAll(false); events.push_back("disable actions"); }
    void enableActions() override { setAll(true); events.push_back("enable actions"); }
    void enableButton(int id) override { buttons[id] = true; }
    bool isButtonEnabled(int id) const override { return buttons.at(id); }
    int currentTab() const override { return tab; }
    void setProgressBar(int position) override {
        bar = position;
        events.push_back("bar " + std::to_string(position));
    }
    void addStatusPadded(const std::string& text) override {
        padded.push_back(text);
        events.push_back("status " + text);
    }
    void addStatusRaw(const std::string& text) override {
        raw.push_back(text);
        events.push_back("raw " + text);
    }
    void parseParameterReply(const std::string& text) override {
        paramTexts.push_back(text);
        events.push_back("parse params");
    }
    void parseArchiveReply(const std::string& text) override {
        archiveTexts.push_back(text);
        events.push_back("parse archive");
    }
    void playReplySignal() override { ++signals; events.push_back("signal"); }
    void showParameterGrid() override { events.push_back("show grid"); }
    void emptyParameterGrid() override { events.push_back("empty grid"); }
    void clearHistoryTables() override { events.push_back("clear tables"); }
    void hideDiagramButton() override { events.push_back("hide 1024"); }
    void dropHistoryTabs() override { tab = 0; events.push_back("drop tabs"); }
    void invalidate() override { events.push_back("invalidate"); }

    bool allEnabled() const {
        return std::all_of(buttons.begin(), buttons.end(), [](auto& b) { return b.second; });
    }
    bool noneEnabled() const {
        return std::none_of(buttons.begin(), buttons.end(), [](auto& b) { return b.second; });
    }

private:
    void setAll(bool on) {
        for (auto& b : buttons) b.second = on;
    }
};

const std::string kGetParams = "get_parameters=255\r\n#\r\n";

ExchangeStart GetParametersStart() {
    ExchangeStart s;
    s.started = true;
    s.files = {kGetParams};
    s.progressSteps = 8;
    return s;
}
ExchangeStart SendChangesStart() {
    ExchangeStart s;
    s.started = true;
    s.files = {"a = 1\r\n", "b = 2\r\n\r\nget_parameters=255\r\n#\r\n"};
    s.progressSteps = 8;
    s.progressBarToZeroBeforePush = true;
    s.changesSentMessage = true;
    return s;
}
ExchangeStart EraseStart() {
    ExchangeStart s;
    s.started = true;
    s.files = {"total_val=0\r\ntotal_time=0\r\nget_parameters=255\r\n#\r\n"};
    s.tickPreset = -4;
    s.changesSentMessage = true;
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
    ExchangeCycleTest() { link.events = &screen.events; }

    void ticks(int n) {
        for (int i = 0; i < n; ++i) cycle.tick();
    }
    void enqueuePoll(int sum, std::string result = {}, std::string params = {}, std::string archive = {}) {
        link.polls.push_back({sum, std::move(result), std::move(params), std::move(archive)});
    }
    void quietTicks(int n) {
        for (int i = 0; i < n; ++i) enqueuePoll(0);
    }
    int count(const std::string& event) const {
        return static_cast<int>(std::count(screen.events.begin(), screen.events.end(), event));
    }
    // Ticks until the time-out message shows; the tick number, or 0 when not within limit.
    int ticksUntilInterrupted(int limit) {
        for (int t = 1; t <= limit; ++t) {
            cycle.tick();
            if (!screen.padded.empty() && screen.padded.back() == kInterrupted)
                return t;
        }
        return 0;
    }

    const std::string kInterrupted = Tr(IDS_CONNECTION_INTERRUPTED, kLangEnglish);
    const std::string kParamsReceived = Tr(IDS_PARAMS_RECEIVED, kLangEnglish);
    ScriptedLink link;
    RecordingScreen screen;
    ExchangeCycle cycle{link, screen, GetParametersStart, kLangEnglish};
};

TEST_F(ExchangeCycleTest, ArrivalRequestsParametersAndTheReplyEndsTheExchange) {
    screen.bar = 0;
    link.statuses = {kLinkArrived};
    enqueuePoll(0);
    cycle.tick();
    ASSERT_EQ(link.sent, std::vector<std::string>{kGetParams});
    EXPECT_TRUE(screen.noneEnabled());
    EXPECT_EQ(cycle.progressStep(), 12);
    EXPECT_EQ(screen.bar, 0);

    enqueuePoll(0);
    enqueuePoll(kReplyParams, {}, "serial = 17\r\nneutr\r\n");
    ticks(2);
    EXPECT_EQ(screen.paramTexts, std::vector<std::string>{"serial = 17\r\nneutr\r\n"});
    EXPECT_EQ(screen.padded, std::vector<std::string>{kParamsReceived});
    EXPECT_EQ(screen.signals, 1);
    EXPECT_TRUE(screen.allEnabled());
    EXPECT_EQ(screen.bar, 100);
    // The reply stays in its slot for the language switch.
    EXPECT_EQ(link.params, "serial = 17\r\nneutr\r\n");
    // The parameter view comes back, history views go.
    for (const char* e : {"show grid", "clear tables", "hide 1024", "drop tabs"})
        EXPECT_EQ(count(e), 1) << e;

    // The exchange is over: its time-out passes without a message.
    ticks(30);
    EXPECT_EQ(screen.padded.size(), 1u);
}

TEST_F(ExchangeCycleTest, ParameterReplyWithResultReplyIsDispatchedAsParameters) {
    cycle.startCommand(GetParametersStart());
    enqueuePoll(kReplyParams + kReplyResult, "Error", "p");
    cycle.tick();
    EXPECT_EQ(screen.paramTexts.size(), 1u);
    EXPECT_TRUE(screen.raw.empty());
    enqueuePoll(kReplyParams + kReplyResult, "accepted", "p");
    cycle.tick();
    // A message comes again on its own; an acceptance goes with the reply.
    EXPECT_EQ(link.delivered, (std::vector<int>{kReplyParams, kReplyParams + kReplyResult}));
}

TEST_F(ExchangeCycleTest, AcceptedResultWaitsSilentlyForTheParameters) {
    cycle.startCommand(SendChangesStart());
    // Bar emptied before the push, progress and message after it.
    const std::vector<std::string> start(screen.events.begin(), screen.events.end());
    EXPECT_EQ(start, (std::vector<std::string>{
                         "disable actions", "bar 0", "send a = 1\r\n",
                         "send b = 2\r\n\r\nget_parameters=255\r\n#\r\n",
                         "status " + Tr(IDS_CHANGES_SENT, kLangEnglish)}));
    EXPECT_EQ(cycle.progressPosition(), 0);
    EXPECT_EQ(cycle.progressStep(), 12);
    screen.padded.clear();

    enqueuePoll(0);
    enqueuePoll(kReplyResult, "Changes accepted\r\n");
    enqueuePoll(0);
    ticks(3);
    EXPECT_TRUE(screen.padded.empty());
    EXPECT_TRUE(screen.raw.empty());
    EXPECT_EQ(screen.signals, 0);
    EXPECT_TRUE(screen.noneEnabled());

    enqueuePoll(kReplyParams, {}, "p");
    cycle.tick();
    EXPECT_EQ(screen.padded, std::vector<std::string>{kParamsReceived});
    EXPECT_TRUE(screen.raw.empty());
    EXPECT_TRUE(screen.allEnabled());
}

TEST_F(ExchangeCycleTest, OtherResultTextIsShownRawAndEndsTheExchange) {
    cycle.startCommand(EraseStart());
    screen.padded.clear();
    enqueuePoll(kReplyResult, "Wrong key\r\nline 2\r\n");
    cycle.tick();
    EXPECT_EQ(screen.raw, std::vector<std::string>{"Wrong key\r\nline 2\r\n"});
    EXPECT_EQ(screen.signals, 1);
    EXPECT_TRUE(screen.allEnabled());
    EXPECT_EQ(screen.bar, 100);
    // "Accepted" with a capital does not count as an acceptance either.
    enqueuePoll(kReplyResult, "Accepted");
    cycle.tick();
    EXPECT_EQ(screen.raw.back(), "Accepted");
    ticks(30);
    EXPECT_TRUE(screen.padded.empty()); // no time-out message after an answer
}

TEST_F(ExchangeCycleTest, TimeOutFallsOnTheTickOfEachCommand) {
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
        RecordingScreen s;
        ExchangeCycle x{l, s, GetParametersStart, kLangEnglish};
        s.enableActions();
        for (int i = 0; i < 7; ++i) x.tick(); // a counter mid-way is overwritten by the preset
        x.startCommand(c.start);
        s.padded.clear();
        for (int t = 1; t < c.timeOutTick; ++t) x.tick();
        EXPECT_TRUE(s.padded.empty()) << c.name;
        EXPECT_TRUE(s.noneEnabled()) << c.name;
        x.tick();
        EXPECT_EQ(s.padded, std::vector<std::string>{kInterrupted}) << c.name;
        EXPECT_TRUE(s.allEnabled()) << c.name;
        EXPECT_EQ(s.bar, 100) << c.name;
        EXPECT_EQ(x.tickCounter(), 0) << c.name;
    }
}

TEST_F(ExchangeCycleTest, TimeOutMessageInTheCurrentLanguage) {
    cycle.setLangBase(kLangRussian);
    cycle.startCommand(GetParametersStart());
    ticks(14);
    ASSERT_EQ(screen.padded.size(), 1u);
    EXPECT_EQ(screen.padded[0], Tr(IDS_CONNECTION_INTERRUPTED, kLangRussian));
}

TEST_F(ExchangeCycleTest, UndispatchableSumsLeaveEverythingInTheSlots) {
    cycle.startCommand(GetParametersStart());
    for (int sum : {kReplyParams + kReplyArchive, 2 * kReplyParams, 2 * kReplyResult,
                    kReplyArchive + 2 * kReplyResult}) {
        enqueuePoll(sum, "r", "p", "a");
        cycle.tick();
    }
    EXPECT_TRUE(screen.paramTexts.empty());
    EXPECT_TRUE(screen.archiveTexts.empty());
    EXPECT_TRUE(screen.raw.empty());
    EXPECT_TRUE(screen.padded.empty());
    EXPECT_EQ(screen.signals, 0);
    EXPECT_TRUE(screen.noneEnabled());
    EXPECT_EQ(link.params, "p");
    EXPECT_EQ(link.archive, "a");
    EXPECT_EQ(link.result, "r");
    EXPECT_EQ(link.delivered, std::vector<int>(4, 0));
}

TEST_F(ExchangeCycleTest, NothingTakenInOnTheTimeOutTickGivesNoMessageButEndsTheExchange) {
    cycle.startCommand(GetParametersStart());
    quietTicks(13);
    enqueuePoll(kReplyResult, "Changes accepted");
    ticks(14);
    EXPECT_TRUE(screen.padded.empty());
    EXPECT_TRUE(screen.allEnabled());
}

TEST_F(ExchangeCycleTest, ArchiveReplyOnAHistoryTabEnablesSendChangesToo) {
    cycle.startCommand(HistoryStart());
    screen.tab = 1;
    enqueuePoll(kReplyArchive + kReplyResult, "x", {}, "archive");
    cycle.tick();
    EXPECT_EQ(screen.archiveTexts, std::vector<std::string>{"archive"});
    EXPECT_EQ(screen.padded, std::vector<std::string>{Tr(IDS_ARCHIVE_RECEIVED, kLangEnglish)});
    EXPECT_TRUE(screen.allEnabled());
    EXPECT_EQ(screen.tab, 1); // the archive reply leaves the tabs alone
}

TEST_F(ExchangeCycleTest, TimeOutOnAHistoryTabLeavesSendChangesDisabled) {
    cycle.startCommand(GetParametersStart());
    for (int tab : {1, 2}) {
        screen.tab = tab;
        screen.padded.clear();
        screen.disableActions();
        cycle.startCommand(GetParametersStart());
        EXPECT_EQ(ticksUntilInterrupted(20), 14) << tab;
        EXPECT_FALSE(screen.buttons[kButtonSendChanges]) << tab;
        EXPECT_TRUE(screen.buttons[kButtonGetParameters]) << tab;
        EXPECT_TRUE(screen.buttons[kButtonGetHistory]) << tab;
        EXPECT_TRUE(screen.buttons[kButtonEraseTotal]) << tab;
    }
}

TEST_F(ExchangeCycleTest, DepartureClearsWhatWasReceived) {
    link.params = "p";
    link.archive = "a";
    link.result = "r";
    screen.enableActions();
    screen.tab = 2;
    screen.events.clear();
    link.statuses = {kLinkGone};
    cycle.tick();
    const std::vector<std::string> expected = {"clear replies", "show grid", "empty grid",
                                               "clear tables", "disable actions", "hide 1024",
                                               "drop tabs", "invalidate"};
    ASSERT_GE(screen.events.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(screen.events.begin(), screen.events.begin() + 8), expected);
    EXPECT_TRUE(link.params.empty() && link.archive.empty() && link.result.empty());
    EXPECT_EQ(screen.tab, 0);
    EXPECT_TRUE(screen.noneEnabled());
    EXPECT_TRUE(screen.padded.empty());
}

TEST_F(ExchangeCycleTest, NoDosimeterKeepsActionsDisabledThroughTheTimeOut) {
    link.idleStatus = kLinkNone;
    cycle.startCommand(GetParametersStart());
    ticks(14);
    EXPECT_TRUE(screen.noneEnabled());
    EXPECT_TRUE(screen.padded.empty());
    EXPECT_EQ(cycle.tickCounter(), 0);
}

TEST_F(ExchangeCycleTest, IdleTimeOutEvery14TicksAddsNoMessage) {
    screen.enableActions();
    for (int round = 0; round < 3; ++round) {
        ticks(13);
        EXPECT_EQ(cycle.tickCounter(), 13);
        cycle.tick();
        EXPECT_EQ(cycle.tickCounter(), 0);
    }
    EXPECT_TRUE(screen.padded.empty());
    EXPECT_TRUE(screen.allEnabled());
}

TEST_F(ExchangeCycleTest, ReplyAfterTheTimeOutIsStillDispatched) {
    cycle.startCommand(GetParametersStart());
    EXPECT_EQ(ticksUntilInterrupted(14), 14);
    quietTicks(2);
    enqueuePoll(kReplyParams, {}, "late");
    ticks(3);
    EXPECT_EQ(screen.paramTexts, std::vector<std::string>{"late"});
    EXPECT_EQ(screen.padded.back(), kParamsReceived);
}

TEST_F(ExchangeCycleTest, ProgressAdvancesByItsStepThenStaysFull) {
    cycle.startCommand(GetParametersStart());
    std::vector<int> bars;
    for (int i = 0; i < 11; ++i) {
        cycle.tick();
        bars.push_back(screen.bar);
    }
    EXPECT_EQ(bars, (std::vector<int>{0, 12, 24, 36, 48, 60, 72, 84, 96, 100, 100}));
    EXPECT_EQ(cycle.progressStep(), 0);
    EXPECT_GT(cycle.progressPosition(), 100);

    // The erase command leaves the progress alone; a step of 0 holds the bar.
    cycle.startCommand(EraseStart());
    EXPECT_EQ(cycle.progressStep(), 0);
    cycle.tick();
    EXPECT_EQ(screen.bar, 100);
}

TEST_F(ExchangeCycleTest, HistoryStartResetsTheViewBeforePushing) {
    cycle.startCommand(HistoryStart());
    EXPECT_EQ(screen.events, (std::vector<std::string>{"disable actions", "drop tabs", "hide 1024",
                                                       "show grid", "send get_archive\r\n"}));
    EXPECT_EQ(cycle.tickCounter(), -30);
    EXPECT_EQ(cycle.progressStep(), 2);
}

TEST_F(ExchangeCycleTest, RefusedStartChangesNothing) {
    screen.enableActions();
    ticks(5);
    screen.events.clear();
    ExchangeStart refused = GetParametersStart();
    refused.started = false;
    cycle.startCommand(refused);
    EXPECT_TRUE(screen.events.empty());
    EXPECT_TRUE(link.sent.empty());
    EXPECT_EQ(cycle.tickCounter(), 5);
}

TEST_F(ExchangeCycleTest, LanguageSwitchEndsARunningExchange) {
    cycle.startCommand(GetParametersStart());
    ticks(5);
    cycle.resetForLanguageSwitch();
    EXPECT_EQ(cycle.tickCounter(), 0);
    EXPECT_EQ(cycle.progressPosition(), 100);
    EXPECT_EQ(cycle.progressStep(), 0);
    EXPECT_TRUE(screen.allEnabled());
    ticks(20);
    EXPECT_TRUE(screen.padded.empty());
    EXPECT_EQ(screen.bar, 100);
}

} // namespace
} // namespace dm

namespace dm {
namespace {

class ExchangeRunTest : public ::testing::Test {
protected:
    ExchangeRunResult run(WantedReply wanted, int timeout, ExchangeStart start = GetParametersStart()) {
        return RunExchangeToReply(link, start, wanted, timeout, kLangEnglish, [this] { ++waits; });
    }
    void enqueue(int sum, std::string result = {}, std::string params = {}, std::string archive = {}) {
        link.polls.push_back({sum, std::move(result), std::move(params), std::move(archive)});
    }

    ScriptedLink link;
    int waits = 0;
};

TEST_F(ExchangeRunTest, PushesOnceAndReturnsTheWantedReply) {
    // Discovery events do not disturb a run: a departure would empty the slots.
    link.statuses = {kLinkArrived, kLinkGone, kLinkNone};
    enqueue(0);
    enqueue(0);
    enqueue(kReplyParams, {}, "params text");
    const ExchangeRunResult r = run(WantedReply::Parameters, 14);
    EXPECT_EQ(r.outcome, ExchangeRunResult::Outcome::Reply);
    EXPECT_EQ(r.text, "params text");
    EXPECT_EQ(r.ticks, 3);
    EXPECT_EQ(waits, 3); // each tick waited for
    EXPECT_EQ(link.sent, std::vector<std::string>{kGetParams});
}

TEST_F(ExchangeRunTest, AcceptanceKeepsWaitingOtherTextsEndTheRun) {
    enqueue(kReplyResult, "accepted");
    enqueue(kReplyParams, {}, "p");
    EXPECT_EQ(run(WantedReply::Parameters, 14).outcome, ExchangeRunResult::Outcome::Reply);

    link.polls.clear();
    enqueue(kReplyResult, "Unknown command\r\n");
    const ExchangeRunResult r = run(WantedReply::Archive, 44, HistoryStart());
    EXPECT_EQ(r.outcome, ExchangeRunResult::Outcome::DosimeterMessage);
    EXPECT_EQ(r.text, "Unknown command\r\n");
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
    enqueue(kReplyParams, {}, "p");
    enqueue(kReplyParams + kReplyArchive, {}, "p", "a"); // ambiguous: not dispatched
    const ExchangeRunResult r = run(WantedReply::Archive, 44, HistoryStart());
    EXPECT_EQ(r.outcome, ExchangeRunResult::Outcome::TimedOut);
    EXPECT_EQ(r.ticks, 44);

    enqueue(0);
    enqueue(kReplyArchive, {}, {}, "archive text");
    const ExchangeRunResult late = run(WantedReply::Archive, 44, HistoryStart());
    EXPECT_EQ(late.outcome, ExchangeRunResult::Outcome::Reply);
    EXPECT_EQ(late.text, "archive text");
}

TEST_F(ExchangeRunTest, ReplyOnTheTimeOutTickStillCounts) {
    for (int i = 0; i < 4; ++i) enqueue(0);
    enqueue(kReplyParams, {}, "just in time");
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
    } cases[] = {{ComposeGetParameters(0), 14}, {ComposeEraseTotalDose(kLangEnglish, yes), 18}};
    for (const Case& c : cases) {
        ScriptedLink link;
        RecordingScreen screen;
        ExchangeCycle cycle(link, screen, [] { return ComposeGetParameters(0); }, kLangEnglish);
        cycle.startCommand(c.start);
        EXPECT_EQ(link.sent, c.start.files);
        screen.padded.clear();
        for (int t = 1; t < c.timeOutTick; ++t) cycle.tick();
        EXPECT_TRUE(screen.padded.empty());
        cycle.tick();
        EXPECT_EQ(screen.padded, std::vector<std::string>{Tr(IDS_CONNECTION_INTERRUPTED, kLangEnglish)});
    }
    ScriptedLink link;
    RecordingScreen screen;
    ExchangeCycle cycle(link, screen, [] { return ComposeGetParameters(1); }, kLangEnglish);
    link.statuses = {kLinkArrived};
    cycle.tick();
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0], GetParametersCommand(1)); // the arrival asks with the mask in force
}

} // namespace
} // namespace dm
