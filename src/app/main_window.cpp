#include "app/main_window.h"

#ifdef DM_HAVE_CHARTS
#include "charts/chart_data.h"
#include "charts/diagram_window.h"
#endif

#include "access/access_codes.h"
#include "app/about_dialog.h"
#include "app/history_view.h"
#include "app/qt_user_dialogs.h"
#include "app/multiline_button.h"
#include "app/status_entry.h"
#include "app/status_log.h"
#include "core/string_table.h"
#include "core/text_file.h"
#include "grid/parameter_table_view.h"
#include "history/dose_archive.h"
#include "link/reply_signal.h"
#include "params/catalogue.h"
#include "params/command_files.h"
#include "params/parameter_set.h"
#include "qt/qt_text.h"
#include "records/station_recorder.h"

#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTime>

using dm::Tr;

using dm::Q;

namespace {

dm::ClockTime Now() {
    const QTime t = QTime::currentTime();
    return {t.hour(), t.minute(), t.second()};
}

} // namespace

MainWindow::MainWindow(const dm::InterfaceSettings& settings, WindowServices services, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                          Qt::WindowCloseButtonHint),
      language_(settings.language), access_(settings.access), services_(std::move(services)) {
    setObjectName(QStringLiteral("mainWindow"));
    if (!services_.dialogs) {
        ownDialogs_ = std::make_unique<QtUserDialogs>(this, [this] { return language_; });
        services_.dialogs = ownDialogs_.get();
    }
    controller_ = std::make_unique<dm::ExchangeController>(*services_.link, static_cast<dm::ControllerView&>(*this),
                                                            *services_.dialogs);
    controller_->setRecorder(services_.recorder);
    doseTable_ = std::make_unique<dm::HistoryTable>(controller_->archive(), dm::HistoryTab::Dose, dm::Language::English);
    neutronTable_ = std::make_unique<dm::HistoryTable>(controller_->archive(), dm::HistoryTab::Neutron, dm::Language::English);
    buildControls();
    buildMenu();
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &MainWindow::onTimer);
    // Between ticks, while a command waits, a reply whose file is proven whole is taken in
    // at once; idle, nothing wakes the program more than once a second.
    replyLook_.setInterval(50);
    connect(&replyLook_, &QTimer::timeout, this, [this] {
        if (controller_->inExchange())
            return;
        controller_->lookForReplies();
        followWaiting();
    });
    initialiseWindow();
    if (!services_.linkNote.empty())
        addStatusMessage(services_.linkNote);
    // Until a dosimeter answers the log says what the window is doing.
    if (!services_.lookingOn.empty())
        addStatusMessage(dm::FillIn(Tr(dm::IDS_LOOKING_FOR_DOSIMETER, language_), {services_.lookingOn}));
    if (services_.recorder)
        services_.recorder->setNotify([this](const std::string& text) {
            QMetaObject::invokeMethod(this, [this, text] { addStatusMessage(text); }, Qt::QueuedConnection);
        });
    if (services_.recorder)
        services_.recorder->setStored([this] {
            QMetaObject::invokeMethod(this, [this] {
                if (recordsStored_)
                    recordsStored_();
            }, Qt::QueuedConnection);
        });
    if (services_.recorder)
        services_.recorder->setAlert([this](const std::string& text) {
            // A dose level reached is shown at once: in the status log and in a box.
            QMetaObject::invokeMethod(this, [this, text] {
                addStatusMessage(text);
                if (services_.dialogs)
                    services_.dialogs->showAlert(text);
            }, Qt::QueuedConnection);
        });
}

MainWindow::~MainWindow() {
    timer_.stop();
    if (services_.recorder)
        services_.recorder->setNotify({});
    if (services_.recorder)
        services_.recorder->setAlert({});
    if (services_.recorder)
        services_.recorder->setStored({});
    // The views read the tables, which are members and go before the child widgets would.
    delete client_;
    client_ = nullptr;
}

// ------------------------------------------------------------------ start-up

void MainWindow::initialiseWindow() {
    // One tab, "Parameters"; the history tabs come with an archive reply.
    {
        const QSignalBlocker quiet(tabs_);
        while (tabs_->count() > 0)
            tabs_->removeTab(tabs_->count() - 1);
        tabs_->addTab(Q(Tr(dm::IDS_TAB_PARAMETERS, language_)));
        tabs_->setCurrentIndex(0);
    }

    grid_->clear(language_);
    doseTable_->setLanguage(language_);
    neutronTable_->setLanguage(language_);

    showTable(0);

    setTexts();
    diagramButton_->setEnabled(false);
    diagramButton_->hide();
    disableActions();

    if (services_.runTimer)
        timer_.start();
    controller_->cycle().resetCounters();

    const std::filesystem::path catalogueFile =
        services_.catalogueFile.empty() ? dm::FindDataFile("Commands.lst") : services_.catalogueFile;
    controller_->setLanguage(language_, dm::LoadCatalogue(services_.catalogueFile, language_, *services_.dialogs),
                             catalogueFile);
    controller_->setAccess(access_);
    if (services_.recorder)
        services_.recorder->setLanguage(language_);
}

// ------------------------------------------------------------------ status log, buttons

void MainWindow::addStatusMessage(const std::string& text) {
    statusLog_->addEntry(Q(dm::PaddedStatusEntry(Now(), text)));
}

void MainWindow::addRawStatusMessage(const std::string& text) {
    statusLog_->addEntry(Q(dm::RawStatusEntry(Now(), text)));
}

void MainWindow::disableActions() {
    for (QPushButton* b : {getParamsButton_, getHistoryButton_, sendChangesButton_, eraseButton_})
        b->setEnabled(false);
}

void MainWindow::enableActions() {
    for (QPushButton* b : {getParamsButton_, getHistoryButton_, sendChangesButton_, eraseButton_})
        b->setEnabled(true);
}

void MainWindow::busy(bool busy) {
    if (busy) {
        disableActions();
        return;
    }
    enableActions();
    // The table on screen is of a dosimeter that left: only a new read may start.
    if (controller_->outOfRange()) {
        for (QPushButton* b : {getHistoryButton_, sendChangesButton_, eraseButton_})
            b->setEnabled(false);
        return;
    }
    // Changes are sent from the parameter tab only.
    if (tabs_->currentIndex() != 0)
        sendChangesButton_->setEnabled(false);
}

void MainWindow::setProgressBar(int position) { progress_->setValue(qBound(0, position, 100)); }

// ------------------------------------------------------------------ tabs and views

void MainWindow::selectTab(int index) { tabs_->setCurrentIndex(index); }

void MainWindow::onTabChanged(int index) {
    switch (index) {
    case 0:
        if (controller_->cycle().dosimeterInRange() && !controller_->outOfRange()) {
            sendChangesButton_->setEnabled(true);
            sendChangesButton_->show();
        }
        showTable(0);
        break;
    case 1:
    case 2:
        sendChangesButton_->setEnabled(false);
        showTable(index);
        break;
    default:
        break;
    }
}


dm::HistoryView* MainWindow::historyView(int tab) {
    if (tab != 1 && tab != 2)
        return nullptr;
    dm::HistoryView*& view = tab == 1 ? doseView_ : neutronView_;
    if (!view) {
        view = new dm::HistoryView(tab == 1 ? *doseTable_ : *neutronTable_, client_);
        view->setObjectName(tab == 1 ? QStringLiteral("doseHistory") : QStringLiteral("neutronHistory"));
        placeControls();
        view->setEnabled(false);
        view->hide();
        view->refresh();
    }
    return view;
}

void MainWindow::showTable(int tab) {
    gridView_->setEnabled(tab == 0);
    gridView_->setVisible(tab == 0);
    for (int t : {1, 2}) {
        dm::HistoryView* view = t == tab ? historyView(t) : (t == 1 ? doseView_ : neutronView_);
        if (view) {
            view->setEnabled(t == tab);
            view->setVisible(t == tab);
        }
    }
}

void MainWindow::hideDiagramButton() {
    diagramButton_->setEnabled(false);
    diagramButton_->hide();
}

void MainWindow::dropHistoryTabs() {
    // The program's own tab changes do not run the user's tab switch.
    const QSignalBlocker quiet(tabs_);
    tabs_->setCurrentIndex(0);
    if (tabs_->count() > 2)
        tabs_->removeTab(2);
    if (tabs_->count() > 1)
        tabs_->removeTab(1);
}


// ------------------------------------------------------------------ what the controller shows

void MainWindow::showParameters() {
    grid_->fill(controller_->catalogue(), language_, access_, paramState_);
    if (!paramState_.caption.empty())
        setWindowTitle(Q(paramState_.caption));
    markCells();
}

void MainWindow::markCells() {
    grid_->setRefusedKeys(controller_->badKeys());
    // Out of range the table stays to be read and saved, greyed, and is not edited.
    grid_->setOutOfRange(controller_->outOfRange());
}

void MainWindow::setHistoryTabs() {
    const QSignalBlocker quiet(tabs_);
    if (tabs_->count() > 2)
        tabs_->removeTab(2);
    if (tabs_->count() > 1)
        tabs_->removeTab(1);
    for (const std::string& label : dm::HistoryTabLabels(controller_->archive(), language_))
        tabs_->addTab(Q(label));
}

void MainWindow::archiveChanged() {
    for (dm::HistoryView* view : {doseView_, neutronView_})
        if (view)
            view->refresh();
    if (controller_->archive().empty()) {
        hideDiagramButton();
        dropHistoryTabs();
        showTable(0);
        return;
    }
    setHistoryTabs();
    // A history tab that was on screen may have gone with the old labels.
    if (tabs_->currentIndex() == 0 && !gridView_->isVisibleTo(this))
        showTable(0);
    diagramButton_->show();
    diagramButton_->setEnabled(true);
    update();
}

void MainWindow::showParameterTab() {
    // The program's own tab change does not run the user's tab switch.
    {
        const QSignalBlocker quiet(tabs_);
        tabs_->setCurrentIndex(0);
    }
    showTable(0);
}

void MainWindow::replyArrived() { dm::PlayReplySignal(); }

void MainWindow::commitOpenEdit() {
    if (gridView_->isEditing())
        gridView_->setFocus(); // an open edit counts as made
}

void MainWindow::onTimer() {
    controller_->tick();
    followWaiting();
}

void MainWindow::followWaiting() {
    const bool waiting =
        timer_.isActive() && controller_->cycle().state().phase == dm::ExchangeState::Phase::Waiting;
    if (!waiting)
        replyLook_.stop();
    else if (!replyLook_.isActive())
        replyLook_.start();
}

void MainWindow::done(int result) {
    if (mayDropEdits())
        QDialog::done(result);
}



// ------------------------------------------------------------------ commands

void MainWindow::getParameters() {
    controller_->getParameters();
    followWaiting();
}

dm::DosimeterReading MainWindow::dosimeterReading() {
    dm::DosimeterReading reading;
    reading.serialInRange = [this] { return controller_->serialInRange(); };
    reading.read = [this](std::function<void()> done) {
        const bool started = controller_->readForRecords(std::move(done));
        followWaiting();
        return started;
    };
    reading.watchStored = [this](std::function<void()> stored) { recordsStored_ = std::move(stored); };
    return reading;
}

void MainWindow::getDoseHistory() {
    controller_->getDoseHistory();
    followWaiting();
}

void MainWindow::sendChanges() {
    controller_->sendChanges();
    followWaiting();
}

void MainWindow::eraseTotalDose() {
    controller_->eraseTotalDose();
    followWaiting();
}

void MainWindow::displayAsDiagram() {
    if (services_.openDiagram) {
        services_.openDiagram();
        return;
    }
#ifdef DM_HAVE_CHARTS
    // A new window, with a new chart, for every press, drawn from the archive.
    dm::DiagramWindow diagram(this, language_);
    const dm::DoseArchive& archive = controller_->archive();
    const dm::ChartLoadResult loaded =
        diagram.loadData(archive, controller_->historyInterval(), controller_->historyDepth());
    // The serial number of the dosimeter the history was read from, when known.
    diagram.setDosimeter(std::string(dm::ModelName(archive.model())), controller_->archiveSerial());
    const std::string notice = dm::TruncationNotice(loaded, language_);
    if (!notice.empty())
        services_.dialogs->showMessage(notice);
    diagram.exec();
#endif
}

void MainWindow::passwordEntry() {
    // The password entry ends in a re-read: the edits are settled before it is asked.
    if (!mayDropEdits())
        return;
    const std::optional<std::string> entered = services_.dialogs->askPassword();
    if (!entered)
        return;
    const std::optional<dm::PasswordOutcome> outcome = dm::ApplyPassword(*entered, access_, language_);
    if (!outcome)
        return;
    access_ = outcome->access;
    controller_->setAccess(access_);
    services_.dialogs->showMessage(outcome->message);
    if (outcome->requestParameters)
        getParameters();
}

void MainWindow::switchLanguage(dm::Language language) {
    if (!mayDropEdits()) {
        setMenuTexts(); // the menu's tick stays on the language in force
        return;
    }
    language_ = language;
    initialiseWindow();
    // The table is relabelled from the parameters already read, edits included.
    if (controller_->parameters().replied())
        showParameters();
    // The history read stays: its tabs, tables and diagram button come back relabelled.
    if (!controller_->archive().empty())
        archiveChanged();
    controller_->languageSwitched();
    setProgressBar(100);
    update();
}

void MainWindow::showAbout() {
    AboutDialog about(this, language_,
                    services_.recorder ? "Records: " + services_.recorder->displayName() : std::string());
    about.exec();
}
