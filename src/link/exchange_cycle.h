#pragma once
// The once-a-second exchange with the dosimeter: reacts to it coming into and leaving
// range, looks for reply files, hands each reply to its parser, advances the progress
// bar and ends an unanswered exchange with "Connection interrupted.".
//
// No Qt and no clock here: the owner calls tick() once a second (the window from its
// timer, the command-line tool from a sleep loop, tests by hand), and everything the
// cycle changes goes through the two small interfaces below.
#include <functional>
#include <string>
#include <vector>

#include "link/link_status.h"
#include "params/command_files.h" // ExchangeStart: how a command starts an exchange

namespace dm {

// Link status values and reply weights as the device link reports them.
constexpr int kLinkNone = LINK_NONE;
constexpr int kLinkArrived = LINK_ARRIVED;
constexpr int kLinkGone = LINK_GONE;
constexpr int kLinkPresent = LINK_PRESENT;
constexpr int kReplyResult = REPLY_RESULT;
constexpr int kReplyParams = REPLY_PARAMS;
constexpr int kReplyArchive = REPLY_ARCHIVE;

// The action buttons of the main window.
constexpr int kButtonGetParameters = 1012;
constexpr int kButtonGetHistory = 1004;
constexpr int kButtonSendChanges = 1002;
constexpr int kButtonEraseTotal = 1017;

// What the cycle needs of the device link.
class ExchangeLink {
public:
    virtual ~ExchangeLink() = default;
    virtual int GetLinkStatus() = 0;   // consuming read of the one-shot events
    virtual int PollReplyFiles() = 0;  // sum of the weights of the files taken in
    virtual std::string ResultReply() const = 0;
    virtual std::string ParamReply() const = 0;
    virtual std::string ArchiveReply() const = 0;
    virtual void ClearReplies() = 0;   // empties the three reply slots
    virtual void SendCommandFile(const std::string& bytes) = 0;
    // After a poll: the replies (a sum of weights) whose texts were handed on; only
    // their files may go. The others stay to be offered again.
    virtual void RepliesDelivered(int /*replies*/) {}
};

// Adapts any object with the device link's members (GetLinkStatus, PollReplyFiles,
// SendCommandFile and the three reply slots) to ExchangeLink.
template <class Link>
class ExchangeLinkAdapter : public ExchangeLink {
public:
    explicit ExchangeLinkAdapter(Link& link) : link_(link) {}
    int GetLinkStatus() override { return link_.GetLinkStatus(); }
    int PollReplyFiles() override { return link_.PollReplyFiles(); }
    std::string ResultReply() const override { return link_.m_strResultReply; }
    std::string ParamReply() const override { return link_.m_strParamReply; }
    std::string ArchiveReply() const override { return link_.m_strArchiveReply; }
    void ClearReplies() override {
        link_.m_strResultReply.clear();
        link_.m_strParamReply.clear();
        link_.m_strArchiveReply.clear();
    }
    void SendCommandFile(const std::string& bytes) override { link_.SendCommandFile(bytes); }
    void RepliesDelivered(int replies) override { link_.RepliesDelivered(replies); }

private:
    Link& link_;
};

// What a tick and a command start change on screen. The window implements it over its
// widgets, the command-line tool over its output, tests over a recorder.
class ExchangeScreen {
public:
    virtual ~ExchangeScreen() = default;

    // The four action buttons 1012, 1004, 1002 and 1017 together.
    virtual void disableActions() = 0;
    virtual void enableActions() = 0;
    // One of the four action buttons.
    virtual void enableButton(int id) = 0;
    virtual bool isButtonEnabled(int id) const = 0;

    virtual int currentTab() const = 0;
    virtual void setProgressBar(int position) = 0; // 0..100

    // Status log: the padded variant for the program's own messages, the raw one for
    // a text the dosimeter sent.
    virtual void addStatusPadded(const std::string& text) = 0;
    virtual void addStatusRaw(const std::string& text) = 0;

    // Hand-offs to the parsers; the text is the reply slot's.
    virtual void parseParameterReply(const std::string& text) = 0;
    virtual void parseArchiveReply(const std::string& text) = 0;
    virtual void playReplySignal() = 0;

    // Show and enable the parameter grid; hide and disable both history tables.
    virtual void showParameterGrid() = 0;
    // Remove every grid row below the fixed rows and spread the columns over the width.
    virtual void emptyParameterGrid() = 0;
    virtual void clearHistoryTables() = 0;
    // Disable and hide "Display as diagram" (1024).
    virtual void hideDiagramButton() = 0;
    // Select tab 0, then delete tab 2 and tab 1, in this order.
    virtual void dropHistoryTabs() = 0;
    // Repaint the window without erasing its background.
    virtual void invalidate() = 0;
};

class ExchangeCycle {
public:
    // composeGetParameters gives the "Get parameters" start (it depends on the
    // protected-parameter mask, which the owner holds); it is used when a dosimeter
    // arrives. Messages are taken from the string table in language langBase.
    ExchangeCycle(ExchangeLink& link, ExchangeScreen& screen,
                  std::function<ExchangeStart()> composeGetParameters, int langBase);

    // One timer tick.
    void tick();

    // Starts an exchange as the command buttons do. Nothing happens when
    // start.started is false.
    void startCommand(const ExchangeStart& start);

    // After the language switch has re-initialised the window and re-parsed the last
    // parameter reply: tick counter and step 0, progress over, actions enabled.
    void resetForLanguageSwitch();

    void setLangBase(int langBase) { langBase_ = langBase; }
    int langBase() const { return langBase_; }

    int tickCounter() const { return tickCounter_; }
    int progressPosition() const { return progressPosition_; }
    int progressStep() const { return progressStep_; }

    // Start state of the window's initialisation: everything 0.
    void resetCounters();

private:
    void beginProgress(int steps);
    void clearReceived();
    // The replies handed on (a sum of weights).
    int dispatch(int replies);
    int acceptanceBeside(int replies) const;
    void advanceProgress();
    void checkTimeOut(int linkStatus, int replies);

    ExchangeLink& link_;
    ExchangeScreen& screen_;
    std::function<ExchangeStart()> composeGetParameters_;
    int langBase_ = 0;
    int tickCounter_ = 0;
    int progressPosition_ = 0; // 100 or more: no progress running
    int progressStep_ = 0;
};

// One exchange run to its end without a window, as the command-line tool does it:
// the command is pushed at once (the dosimeter is taken to be in range throughout) and
// the cycle ticks until the wanted reply is dispatched, the dosimeter answers with a
// message of its own, or timeoutTicks ticks have passed.
enum class WantedReply { Parameters, Archive };

struct ExchangeRunResult {
    enum class Outcome { Reply, DosimeterMessage, TimedOut };
    Outcome outcome = Outcome::TimedOut;
    std::string text;   // the reply text, or the dosimeter's message as it came
    int ticks = 0;      // ticks run
};

// waitForNextTick is called before every tick (the tool sleeps a second there).
// timeoutTicks below 1 counts as 1. Messages of the cycle use langBase.
ExchangeRunResult RunExchangeToReply(ExchangeLink& link, ExchangeStart start, WantedReply wanted,
                                     int timeoutTicks, int langBase,
                                     const std::function<void()>& waitForNextTick);

} // namespace dm
