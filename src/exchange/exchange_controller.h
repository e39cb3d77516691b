#pragma once
// The exchange with one dosimeter as the technician works it: what was read (the parameter
// set with the user's edits, the dose history), what the user may do with it, and what
// each reply means. The window shows this and forwards clicks and edits; the command-line
// tool drives the same rules without a window. No toolkit here: the view is told through
// ControllerView, questions go through UserDialogs, readings to a ReadingRecorder.
#include "core/language.h"
#include "core/message_sink.h"
#include "exchange/reading_recorder.h"
#include "history/dose_archive.h"
#include "link/exchange_cycle.h"
#include "params/change_check.h"
#include "params/command_files.h"
#include "params/parameter_set.h"
#include "params/parameter_table.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace dm {

// What the controller tells whoever shows it.
class ControllerView {
public:
    virtual ~ControllerView() = default;
    // true: no command may start now (one runs, or no dosimeter is in range).
    virtual void busy(bool busy) = 0;
    virtual void progress(int percent) = 0;
    // A line of the status log: the program's own, or a text from the dosimeter as it came.
    virtual void statusLine(const std::string& text) = 0;
    virtual void dosimeterLine(const std::string& text) = 0;
    // The parameter table changed: values, rows, marks, or whether it is out of range.
    virtual void parametersChanged() = 0;
    // The dose history changed (it may now be empty).
    virtual void archiveChanged() = 0;
    // A command that starts from the parameters shows the parameter tab.
    virtual void showParameterTab() {}
    // A reply came from the dosimeter: the reply signal sounds.
    virtual void replyArrived() {}
    // An edit still open in the table is made now (before changes are sent or dropped).
    virtual void commitOpenEdit() {}
};

class ExchangeController : private ExchangeObserver {
public:
    ExchangeController(ExchangeLink& link, ControllerView& view, UserDialogs& dialogs);
    ~ExchangeController() override;
    ExchangeController(const ExchangeController&) = delete;
    ExchangeController& operator=(const ExchangeController&) = delete;

    // Every reading, erase and change sent goes here; none: nothing is recorded.
    void setRecorder(ReadingRecorder* recorder) { recorder_ = recorder; }

    // The interface language and the catalogue of parameter names (UTF-8) it brings,
    // read from catalogueFile (for the notice about a catalogue without a model's section).
    void setLanguage(Language language, std::string catalogue, std::filesystem::path catalogueFile);
    Language language() const { return language_; }
    void setAccess(int access) { access_ = access; }
    int access() const { return access_; }

    // ---- the exchange
    void tick();
    bool lookForReplies();
    bool inExchange() const { return inExchange_; }
    ExchangeCycle& cycle() { return *cycle_; }
    const ExchangeCycle& cycle() const { return *cycle_; }

    // ---- commands; each asks first where unsent edits would be lost
    void getParameters();
    void getDoseHistory();
    void sendChanges();
    void eraseTotalDose();
    // A read for the records window: done runs once its reply is in. False when no read
    // can start now (busy, out of range, or the user kept unsent edits).
    bool readForRecords(std::function<void()> done);
    // The serial number of the dosimeter in range, once its parameters are in.
    std::optional<std::string> serialInRange() const;
    // Whether what is about to replace or drop the edits may go ahead: asks while changed
    // values are unsent (Send sends them and says no, Discard drops them).
    bool mayDropEdits();

    // ---- replies and changes without the cycle (the command-line tool runs its own)
    // A parameter or archive reply as the link took it in: parsed here, once, handed to
    // the recorder, checked, shown. The cycle calls the same on the window's behalf.
    void takeParameterReply(const std::string& reply);
    void takeArchiveReply(const std::string& reply);
    // Seconds between two gamma records when no table has told ("--interval").
    void setHistoryInterval(double seconds) { historyInterval_ = seconds; }
    // What "Send changes" would push now: the values checked (refusals worded in
    // refusalLanguage, nothing goes out while any), the command files, each change with
    // the value it replaces. The rows are those shown now unless given (the command-line
    // tool edits the rows it read the table with).
    struct ComposedChanges {
        std::vector<ValueProblem> refused;
        ExchangeStart start;
        std::vector<SentChange> changes;
    };
    ComposedChanges composeChanges(Language refusalLanguage, const std::vector<ParameterRow>* rowsEdited = nullptr);

    // ---- the table's edits (the view carries them into editableParameters())
    // The user changed the value of key: a refusal mended is no longer marked.
    void editMade(const std::string& key);
    // The set the view edits in place; parametersChanged() is not called for those edits.
    ParameterSet& editableParameters() { return parameters_; }

    // ---- what is shown
    const ParameterSet& parameters() const { return parameters_; }
    std::vector<ParameterRow> rows() const;
    const std::string& catalogue() const { return catalogue_; }
    const DoseArchive& archive() const { return archive_; }
    // The parameters marked refused or not accepted by the dosimeter.
    const std::set<std::string>& badKeys() const { return badKeys_; }
    // The dosimeter whose table is shown has left: the table stays, greyed, not editable.
    bool outOfRange() const { return outOfRange_; }
    // The model of the last reading.
    Model model() const { return model_; }
    // "history_time" and "history_depth_gma" of the last table (1 s and 0 until then).
    double historyInterval() const { return historyInterval_; }
    double historyDepth() const { return historyDepth_; }
    // The serial number of the dosimeter the history was read from (empty: unknown).
    const std::string& archiveSerial() const { return archiveSerial_; }

    // After a language switch: the exchange's counters start over, the reading stays.
    void languageSwitched();

private:
    // ExchangeObserver
    void busy(bool busy) override {
        busy_ = busy;
        view_.busy(busy);
    }
    void progress(int percent) override { view_.progress(percent); }
    void parametersReceived(const std::string& reply) override;
    void archiveReceived(const std::string& reply) override;
    void dosimeterMessage(const std::string& text) override;
    void timedOut() override;
    void arrived() override {}
    void gone() override;
    void requestSent(ExchangeRequest request) override;
    void dosimeterIdentified() override;
    void departed(bool cutShort) override;
    void pushFailed(const std::string& why) override;
    void linkFailed(const std::string& why) override;

    ExchangeStart arrivalRead();
    void startCommand(const ExchangeStart& start);
    // A reply after a command was cut short: said, and true.
    bool ignoredAfterCutShort();
    // The new reading replaces the table; the edits kept from a departure are offered again.
    void takeParameters(ParameterSet reading);
    void checkRenewedParameters();
    void reportErase();
    void readingFacts();
    void say(int id);

    ControllerView& view_;
    UserDialogs& dialogs_;
    ReadingRecorder* recorder_ = nullptr;
    std::unique_ptr<ExchangeCycle> cycle_;

    Language language_ = Language::English;
    int access_ = 0;
    std::string catalogue_;
    std::string catalogueFile_;
    std::string catalogueNoticeShown_; // the notice about a bare catalogue, once per load

    ParameterSet parameters_; // the last parameter reply, with the user's edits
    DoseArchive archive_;
    std::string archiveSerial_;
    Model model_ = Model::Mlv52b;
    double historyInterval_ = 1.0;
    double historyDepth_ = 0.0;

    std::set<std::string> badKeys_;
    RenewedParametersCheck renewedCheck_;
    std::vector<SentChange> unsettled_; // sent, not yet settled by renewed parameters
    bool followUpDue_ = false;          // the read with the password, after this tick
    bool eraseCheckDue_ = false;
    std::optional<double> totalBeforeErase_;
    bool outOfRange_ = false;
    // The table of a dosimeter that left, with unsent edits: offered again when it returns.
    bool editsKeptFromDeparture_ = false;
    bool keptToSay_ = false; // the status log says the edits are kept, once
    bool sendDue_ = false;   // the user chose to send the kept edits: after this tick
    // A command was cut short by the dosimeter leaving: what comes before the next
    // request belongs to it and is ignored.
    bool cutShort_ = false;
    bool busy_ = true;       // no dosimeter in range yet
    // A tick or a look for replies runs: a box it opens runs the window's event loop,
    // whose timers must not start another on the same reply.
    bool inExchange_ = false;
    ParameterSet lastReading_; // the last reply as it came, for the in-range line
    std::function<void()> afterReadout_;
};

} // namespace dm
