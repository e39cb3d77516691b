#include "exchange/exchange_controller.h"

#include "core/string_table.h"
#include "exchange/exchange_messages.h"
#include "history/dose_archive.h"
#include "params/catalogue_notice.h"
#include "params/edit_rules.h"

#include <utility>

namespace dm {
namespace {

// The name a parameter's row shows, else its key.
std::string ShownName(const std::vector<ParameterRow>& rows, const std::string& key) {
    for (const ParameterRow& row : rows)
        if (row.key == key && !row.name.empty())
            return row.name;
    return key;
}

// The user's values of a set, to be carried onto a newer reading of the same dosimeter.
std::vector<std::pair<std::string, std::string>> EditsOf(const ParameterSet& set) {
    std::vector<std::pair<std::string, std::string>> edits;
    for (const Parameter& p : set.parameters())
        if (p.edited)
            edits.emplace_back(p.key, *p.edited);
    return edits;
}

std::string DosimeterName(const ParameterSet& set) {
    const std::string serial = set.serialNumber();
    return serial.empty() ? set.modelName() : set.modelName() + " " + serial;
}

} // namespace

ExchangeController::ExchangeController(ExchangeLink& link, ControllerView& view, UserDialogs& dialogs)
    : view_(view), dialogs_(dialogs),
      cycle_(std::make_unique<ExchangeCycle>(link, static_cast<ExchangeObserver&>(*this),
                                             [this] { return arrivalRead(); })) {}

ExchangeController::~ExchangeController() = default;

void ExchangeController::setLanguage(Language language, std::string catalogue, std::filesystem::path catalogueFile) {
    language_ = language;
    catalogue_ = std::move(catalogue);
    const std::u8string path = catalogueFile.u8string();
    catalogueFile_.assign(path.begin(), path.end());
    catalogueNoticeShown_.clear();
}

std::vector<ParameterRow> ExchangeController::rows() const {
    return ParameterRows(parameters_, catalogue_, language_, access_);
}

void ExchangeController::say(int id) { view_.statusLine(Tr(id, language_)); }

// ------------------------------------------------------------------ the exchange

void ExchangeController::tick() {
    if (inExchange_)
        return; // a box the running tick opened: this tick is skipped, not run inside it
    {
        const bool was = std::exchange(inExchange_, true);
        cycle_->tick();
        inExchange_ = was;
    }
    if (std::exchange(followUpDue_, false))
        startCommand(ComposeGetParameters(access_));
    else if (std::exchange(sendDue_, false))
        sendChanges();
}

bool ExchangeController::lookForReplies() {
    if (inExchange_)
        return false;
    inExchange_ = true;
    const bool taken = cycle_->lookForReplies();
    inExchange_ = false;
    return taken;
}

void ExchangeController::languageSwitched() { cycle_->resetForLanguageSwitch(); }

ExchangeStart ExchangeController::arrivalRead() {
    // The table of a dosimeter that left keeps its edits until the reply tells which
    // dosimeter came; any other unsent edits are asked about before the read replaces them.
    if (!(outOfRange_ && editsKeptFromDeparture_) && !mayDropEdits())
        return {};
    ExchangeStart start = ComposeGetParameters(access_);
    if (start.started && start.resetHistoryView)
        view_.showParameterTab();
    return start;
}

void ExchangeController::startCommand(const ExchangeStart& start) {
    if (start.started && start.resetHistoryView)
        view_.showParameterTab();
    // Known before the push: the renewed parameters tell what the erase did.
    if (start.started && start.request == ExchangeRequest::EraseTotalDose)
        totalBeforeErase_ = parameters_.totalDose();
    cycle_->startCommand(start);
}

// ------------------------------------------------------------------ commands

bool ExchangeController::mayDropEdits() {
    view_.commitOpenEdit(); // an open edit counts as made
    if (!HasUnsentEdits(parameters_))
        return true;
    switch (dialogs_.askUnsentEdits(Tr(IDS_ASK_UNSENT_EDITS, language_))) {
    case UnsentEditsAnswer::Send:
        sendChanges();
        return false;
    case UnsentEditsAnswer::Discard:
        parameters_.discardEdits();
        badKeys_.clear();
        editsKeptFromDeparture_ = false;
        view_.parametersChanged();
        return true;
    case UnsentEditsAnswer::Cancel:
        break;
    }
    return false;
}

void ExchangeController::getParameters() {
    if (mayDropEdits())
        startCommand(ComposeGetParameters(access_));
}

bool ExchangeController::readForRecords(std::function<void()> done) {
    if (inExchange_ || busy_ || outOfRange_ || !mayDropEdits())
        return false;
    const ExchangeStart start = ComposeGetParameters(access_);
    if (!start.started)
        return false;
    afterReadout_ = std::move(done);
    startCommand(start);
    return true;
}

std::optional<std::string> ExchangeController::serialInRange() const {
    const std::string serial = parameters_.serialNumber();
    if (serial.empty() || busy_ || outOfRange_)
        return std::nullopt;
    return serial;
}

void ExchangeController::getDoseHistory() {
    const ExchangeStart start = ComposeGetDoseHistory(parameters_, rows());
    if (start.noHistoryRecords) {
        say(IDS_NO_HISTORY_RECORDS);
        dialogs_.showMessage(Tr(IDS_NO_HISTORY_RECORDS, language_));
    }
    startCommand(start);
}

ExchangeController::ComposedChanges ExchangeController::composeChanges(Language refusalLanguage,
                                                                       const std::vector<ParameterRow>* rowsEdited) {
    ComposedChanges composed;
    const std::vector<ParameterRow> shown = rowsEdited ? *rowsEdited : rows();
    composed.refused = CheckChanges(parameters_, shown, refusalLanguage);
    if (!composed.refused.empty())
        return composed;
    composed.start = ComposeSendChanges(parameters_, shown, model_, language_);
    if (composed.start.started)
        for (const auto& [key, value] : ChangedValues(parameters_, shown, language_))
            composed.changes.push_back({key, parameters_.raw(key).value_or(""), value});
    return composed;
}

void ExchangeController::sendChanges() {
    view_.commitOpenEdit(); // an edit still open belongs to the changes
    if (outOfRange_)
        return; // kept for the dosimeter's return; nothing goes to another
    const ComposedChanges composed = composeChanges(language_);
    if (!composed.refused.empty()) {
        // Nothing goes out until every refused value is mended.
        const std::vector<ParameterRow> shown = rows();
        for (const ValueProblem& p : composed.refused) {
            badKeys_.insert(p.key);
            view_.statusLine(Tr(IDS_NOT_SENT_FIX, language_) + ShownName(shown, p.key) + ": \"" + p.value +
                             "\" - " + p.detail);
        }
        view_.parametersChanged();
        return;
    }
    const ExchangeStart& start = composed.start;
    badKeys_.clear();
    followUpDue_ = false;
    if (start.started) {
        std::vector<std::pair<std::string, std::string>> sent;
        for (const SentChange& change : composed.changes)
            sent.emplace_back(change.key, change.after);
        renewedCheck_.commandSent(std::move(sent), access_ != 0);
    } else {
        renewedCheck_.clear();
    }
    startCommand(start);
    if (start.started && !start.files.empty()) {
        unsettled_ = composed.changes;
        if (recorder_)
            recorder_->changesSent(composed.changes);
    }
}

void ExchangeController::eraseTotalDose() {
    const ExchangeStart start = ComposeEraseTotalDose(language_, dialogs_);
    if (start.started) {
        renewedCheck_.commandSent({}, access_ != 0);
        followUpDue_ = false;
    }
    startCommand(start);
    if (recorder_ && start.started)
        recorder_->erasePushed();
}

void ExchangeController::editMade(const std::string& key) {
    // A mended value is no longer refused; a new one is checked when it is sent.
    badKeys_.erase(key);
}

// ------------------------------------------------------------------ replies

bool ExchangeController::ignoredAfterCutShort() {
    if (cutShort_)
        say(IDS_LATE_REPLY_IGNORED);
    return cutShort_;
}

void ExchangeController::parametersReceived(const std::string& reply) {
    if (ignoredAfterCutShort())
        return;
    takeParameterReply(reply);
}

void ExchangeController::takeParameterReply(const std::string& reply) {
    ParameterSet reading = ReadParameterSet(reply);
    // First of all, before a box can open: the reading is safe before its reply file goes.
    if (recorder_)
        recorder_->parametersArrived(reading);
    lastReading_ = reading;
    takeParameters(std::move(reading));
    if (afterReadout_)
        std::exchange(afterReadout_, nullptr)();
    say(IDS_PARAMS_RECEIVED);
    reportErase();
    view_.replyArrived();
}

void ExchangeController::takeParameters(ParameterSet reading) {
    const bool returning = outOfRange_ && editsKeptFromDeparture_;
    outOfRange_ = false;
    editsKeptFromDeparture_ = false;
    bool offerKept = false;
    if (returning) {
        const auto edits = EditsOf(parameters_);
        const bool same = !reading.serialNumber().empty() && reading.serialNumber() == parameters_.serialNumber();
        if (!same) {
            // Another dosimeter: asked first, as before a re-read.
            const std::string question = FillIn(Tr(IDS_ASK_EDITS_OTHER_DOSIMETER, language_),
                                                {DosimeterName(reading), DosimeterName(parameters_)});
            switch (dialogs_.askUnsentEdits(question)) {
            case UnsentEditsAnswer::Cancel:
                // The table stays with the dosimeter it belongs to, out of range.
                outOfRange_ = true;
                editsKeptFromDeparture_ = true;
                view_.parametersChanged();
                return;
            case UnsentEditsAnswer::Discard:
                break;
            case UnsentEditsAnswer::Send:
                for (const auto& [key, value] : edits)
                    reading.setValue(key, value);
                sendDue_ = true; // after this tick, once the table is the new one's
                break;
            }
        } else {
            for (const auto& [key, value] : edits)
                reading.setValue(key, value);
            offerKept = HasUnsentEdits(reading);
        }
    }
    // The history belongs to the dosimeter it was read from, until another's data comes.
    if (!archive_.empty() && !archiveSerial_.empty() && reading.serialNumber() != archiveSerial_) {
        archive_ = DoseArchive{};
        archiveSerial_.clear();
        view_.archiveChanged();
    }
    parameters_ = std::move(reading);
    checkRenewedParameters();
    readingFacts();
    view_.parametersChanged();
    if (offerKept) {
        switch (dialogs_.askUnsentEdits(Tr(IDS_ASK_KEPT_EDITS, language_))) {
        case UnsentEditsAnswer::Send: sendDue_ = true; break;
        case UnsentEditsAnswer::Discard:
            parameters_.discardEdits();
            view_.parametersChanged();
            break;
        case UnsentEditsAnswer::Cancel: break; // the edits stay unsent in the table
        }
    }
}

void ExchangeController::readingFacts() {
    const std::vector<ParameterRow> shown = rows();
    model_ = parameters_.model();
    if (const auto interval = ShownHistoryInterval(parameters_, shown))
        historyInterval_ = *interval;
    if (const auto depth = ShownHistoryDepth(parameters_, shown))
        historyDepth_ = *depth;
    if (!parameters_.replied())
        return;
    const std::string notice = CatalogueSectionNotice(catalogue_, catalogueFile_, model_, language_);
    if (!notice.empty() && notice != catalogueNoticeShown_) {
        view_.statusLine(notice);
        catalogueNoticeShown_ = notice;
    }
}

void ExchangeController::checkRenewedParameters() {
    const RenewedParametersCheck::Outcome outcome = renewedCheck_.parametersReceived(parameters_);
    const std::vector<ParameterRow> shown = rows();
    auto line = [&](const ValueProblem& p) {
        return Tr(IDS_NOT_ACCEPTED, language_) + ShownName(shown, p.key) + ": " + p.value + " \u2192 " + p.detail;
    };
    std::set<std::string> notTaken;
    for (const ValueProblem& p : outcome.notTaken) {
        badKeys_.insert(p.key);
        notTaken.insert(p.key);
        view_.statusLine(line(p));
    }
    // A value stored rounded to the dosimeter's precision was taken: said, not refused.
    for (const ValueProblem& p : outcome.storedRounded)
        view_.statusLine(FillIn(Tr(IDS_STORED_AS, language_), {ShownName(shown, p.key), p.value, p.detail}));
    for (const ValueProblem& p : outcome.summary)
        notTaken.insert(p.key);
    // The protected rows are asked for after the tick that brought this reply.
    if (outcome.readProtectedNext)
        followUpDue_ = true;
    else if (!unsettled_.empty()) {
        // The one rule for a value taken (a value stored rounded counts as taken).
        std::vector<bool> taken;
        for (const SentChange& change : unsettled_)
            taken.push_back(!notTaken.count(change.key) && ValueTaken(parameters_, change.key, change.after));
        unsettled_.clear();
        if (recorder_)
            recorder_->changesSettled(taken);
    }
    if (outcome.summary.empty())
        return;
    std::string message = Tr(IDS_VALUES_NOT_ACCEPTED, language_);
    for (const ValueProblem& p : outcome.summary)
        message += "\n" + line(p);
    dialogs_.showMessage(message);
}

void ExchangeController::reportErase() {
    if (!std::exchange(eraseCheckDue_, false))
        return;
    if (const auto message = EraseMessage(totalBeforeErase_, parameters_, language_))
        view_.statusLine(*message);
}

void ExchangeController::archiveReceived(const std::string& reply) {
    if (ignoredAfterCutShort())
        return;
    takeArchiveReply(reply);
}

void ExchangeController::takeArchiveReply(const std::string& reply) {
    DoseArchive archive = ParseDoseArchive(reply, historyInterval_);
    if (recorder_)
        recorder_->archiveArrived(archive, historyInterval_);
    archive_ = std::move(archive);
    archiveSerial_ = parameters_.serialNumber();
    model_ = archive_.model();
    view_.archiveChanged();
    say(IDS_ARCHIVE_RECEIVED);
    if (archive_.gamma().empty() && archive_.neutron().empty())
        say(IDS_NO_HISTORY_RECORDS);
    view_.replyArrived();
}

void ExchangeController::dosimeterMessage(const std::string& text) {
    if (ignoredAfterCutShort())
        return;
    eraseCheckDue_ = false; // a refusal: no renewed parameters follow
    view_.dosimeterLine(text);
    view_.replyArrived();
}

void ExchangeController::timedOut() { say(IDS_CONNECTION_INTERRUPTED); }

void ExchangeController::requestSent(ExchangeRequest request) {
    cutShort_ = false;
    // Only the renewed parameters of the erase itself tell what it did.
    eraseCheckDue_ = request == ExchangeRequest::EraseTotalDose;
    const std::string message = RequestMessage(request, language_);
    if (!message.empty())
        view_.statusLine(message);
}

void ExchangeController::dosimeterIdentified() {
    if (lastReading_.replied())
        view_.statusLine(InRangeMessage(lastReading_, language_));
}

void ExchangeController::gone() {
    // Nothing after this belongs to the dosimeter that left; its table and history stay
    // on screen, the table greyed, with its unsent edits.
    if (recorder_)
        recorder_->dosimeterGone();
    if (afterReadout_) {
        afterReadout_ = nullptr;
        say(IDS_HAND_OVER_NOT_RECORDED);
    }
    renewedCheck_.clear();
    unsettled_.clear();
    followUpDue_ = false;
    sendDue_ = false;
    if (parameters_.replied() && !outOfRange_) {
        outOfRange_ = true;
        editsKeptFromDeparture_ = HasUnsentEdits(parameters_);
        keptToSay_ = editsKeptFromDeparture_;
        view_.parametersChanged();
    }
}

void ExchangeController::departed(bool cutShort) {
    eraseCheckDue_ = false;
    cutShort_ = cutShort;
    say(cutShort ? IDS_OUT_OF_RANGE_CUT_SHORT : IDS_OUT_OF_RANGE);
    if (std::exchange(keptToSay_, false))
        say(IDS_EDITS_KEPT);
}

// The link works on threads of its own; what failed there is told here.
void ExchangeController::pushFailed(const std::string& why) {
    view_.statusLine(FillIn(Tr(IDS_PUSH_FAILED, language_), {why}));
}

void ExchangeController::linkFailed(const std::string& why) {
    view_.statusLine(FillIn(Tr(IDS_LINK_LOST, language_), {why}));
}

} // namespace dm
