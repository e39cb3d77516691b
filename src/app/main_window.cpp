#include "app/main_window.h"

#ifdef DM_HAVE_CHARTS
#include "charts/chart_data.h"
#include "charts/diagram_window.h"
#endif

#include "access/access_codes.h"
#include "access/dialog_units.h"
#include "app/about_dialog.h"
#include "app/history_view.h"
#include "app/qt_translations.h"
#include "app/qt_user_dialogs.h"
#include "app/multiline_button.h"
#include "app/status_entry.h"
#include "app/status_log.h"
#include "core/string_table.h"
#include "core/text_file.h"
#include "grid/parameter_table_view.h"
#include "history/dose_archive.h"
#include "history/history_csv.h"
#include "history/table_save.h"
#include "link/reply_signal.h"
#include "params/catalogue.h"
#include "params/catalogue_notice.h"
#include "params/change_check.h"
#include "params/command_files.h"
#include "params/edit_rules.h"
#include "params/parameter_set.h"
#include "records/station_recorder.h"

#include <QActionGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTime>
#include <QVBoxLayout>

using dm::Tr;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The station's recorder as the exchange hands it readings.
dm::ReadingRecorder* ReadingRecorderOf(dm::records::StationRecorder* recorder) { return recorder; }

dm::ClockTime Now() {
    const QTime t = QTime::currentTime();
    return {t.hour(), t.minute(), t.second()};
}

} // namespace

MainWindow::MainWindow(const dm::InterfaceSettings& settings, WindowServices services, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                          Qt::WindowCloseButtonHint),
      langBase_(settings.langBase), access_(settings.access), services_(std::move(services)) {
    setObjectName(QStringLiteral("mainWindow"));
    if (!services_.dialogs) {
        ownDialogs_ = std::make_unique<QtUserDialogs>(this, [this] { return langBase_; });
        services_.dialogs = ownDialogs_.get();
    }
    controller_ = std::make_unique<dm::ExchangeController>(*services_.link, static_cast<dm::ControllerView&>(*this),
                                                            *services_.dialogs);
    controller_->setRecorder(ReadingRecorderOf(services_.recorder));
    doseTable_ = std::make_unique<dm::HistoryTable>(controller_->archive(), dm::HistoryTab::Dose, 0);
    neutronTable_ = std::make_unique<dm::HistoryTable>(controller_->archive(), dm::HistoryTab::Neutron, 0);
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
        addStatusMessage(dm::FillIn(Tr(dm::IDS_LOOKING_FOR_DOSIMETER, langBase_), {services_.lookingOn}));
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
                    services_.dialogs->showMessage(text);
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

// ------------------------------------------------------------------ layout

void MainWindow::buildControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    menuBar_ = new QMenuBar(this);
    layout->setMenuBar(menuBar_);

    const dm::DialogUnits du(font());
    client_ = new QWidget(this);
    client_->setMinimumSize(du.size(392, 347));
    client_->installEventFilter(this);
    layout->addWidget(client_);

    // Group frames first, so the buttons they frame lie above them.
    for (QGroupBox*& frame : frames_)
        frame = new QGroupBox(client_);

    tabs_ = new QTabBar(client_);
    tabs_->setObjectName(QStringLiteral("tabStrip"));
    tabs_->setDrawBase(false);
    tabs_->setExpanding(false);
    tabs_->setDocumentMode(true);
    connect(tabs_, &QTabBar::currentChanged, this, &MainWindow::onTabChanged);

    grid_ = new dm::ParameterTableModel(controller_->editableParameters(), this);
    grid_->setDialogs(services_.dialogs);
    gridView_ = new dm::ParameterTableView(grid_, client_);
    gridView_->setObjectName(QStringLiteral("parameterGrid"));
    gridView_->installEventFilter(this);
    connect(grid_, &dm::ParameterTableModel::valueEdited, this, [this](const QString& key) {
        controller_->editMade(key.toStdString());
        markCells();
    });

    // The two history tables are built when first needed: most sessions never show them,
    // and the window comes up faster without them.

    diagramButton_ = new QPushButton(client_);
    diagramButton_->setObjectName(QStringLiteral("displayAsDiagram"));
    diagramButton_->setAutoDefault(false);
    connect(diagramButton_, &QPushButton::clicked, this, &MainWindow::displayAsDiagram);

    auto makeButton = [&](const char* name) {
        auto* b = new dm::MultiLineButton(client_);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };
    getParamsButton_ = makeButton("getParameters");
    // No default button: Enter after an edit must never re-read the table over the edits.
    getHistoryButton_ = makeButton("getDoseHistory");
    sendChangesButton_ = makeButton("sendChanges");
    eraseButton_ = makeButton("eraseTotalDose");
    connect(getParamsButton_, &QPushButton::clicked, this, &MainWindow::getParameters);
    connect(getHistoryButton_, &QPushButton::clicked, this, &MainWindow::getDoseHistory);
    connect(sendChangesButton_, &QPushButton::clicked, this, &MainWindow::sendChanges);
    connect(eraseButton_, &QPushButton::clicked, this, &MainWindow::eraseTotalDose);

    progress_ = new QProgressBar(client_);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);

    statusLog_ = new dm::StatusLog(client_);
    statusLog_->setObjectName(QStringLiteral("statusLog"));
    statusLog_->setMaxVisibleItems(qMax(3, du.y(101) / qMax(1, statusLog_->fontMetrics().height() + 4)));
    statusLog_->setFocusPolicy(Qt::ClickFocus);
    placeControls();
}

void MainWindow::placeControls() {
    const dm::DialogUnits du(font());
    const QSize base = du.size(392, 347);
    const int dx = qMax(0, client_->width() - base.width()), dy = qMax(0, client_->height() - base.height());
    auto right = [&](int x, int y, int w, int h) { return du.rect(x, y, w, h).translated(dx, 0); };
    auto corner = [&](int x, int y, int w, int h) { return du.rect(x, y, w, h).translated(dx, dy); };
    auto grown = [&](int x, int y, int w, int h) { return du.rect(x, y, w, h).adjusted(0, 0, dx, dy); };

    frames_[0]->setGeometry(right(317, 24, 70, 52));
    frames_[1]->setGeometry(right(317, 89, 70, 41));
    frames_[2]->setGeometry(corner(317, 278, 69, 31));
    tabs_->setGeometry(du.rect(7, 6, 223, 13));
    gridView_->setGeometry(grown(7, 22, 304, 300));
    if (doseView_)
        doseView_->setGeometry(grown(7, 22, 304, 300));
    if (neutronView_)
        neutronView_->setGeometry(grown(7, 22, 294, 300));
    diagramButton_->setGeometry(du.rect(228, 6, 107, 13));
    getParamsButton_->setGeometry(right(321, 32, 62, 22));
    getHistoryButton_->setGeometry(right(321, 58, 62, 14));
    sendChangesButton_->setGeometry(right(321, 97, 62, 29));
    eraseButton_->setGeometry(corner(321, 285, 62, 21));
    progress_->setGeometry(corner(316, 328, 70, 12));
    const QRect log = du.rect(7, 328, 304, 12).adjusted(0, dy, dx, dy);
    statusLog_->setGeometry(log.x(), log.y(), log.width(), qMax(log.height(), statusLog_->sizeHint().height()));
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client_ && event->type() == QEvent::Resize)
        placeControls();
    return QDialog::eventFilter(watched, event);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    // Escape never ends the program (an open edit is cancelled by its editor first);
    // Ctrl+Q and the close button do.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void MainWindow::buildMenu() {
    // Texts come with the interface language (setMenuTexts).
    fileMenu_ = menuBar_->addMenu(QString());
    fileMenu_->setObjectName(QStringLiteral("menuFile"));
    saveAction_ = fileMenu_->addAction(QString(), this, &MainWindow::saveCurrentTable);
    saveAction_->setObjectName(QStringLiteral("actionSave"));
    saveAction_->setShortcut(QKeySequence::Save);
    exportCsvAction_ = fileMenu_->addAction(QString(), this, &MainWindow::exportCurrentTableCsv);
    exportCsvAction_->setObjectName(QStringLiteral("actionExportCsv"));
    // Only a history tab with records has anything to export.
    connect(fileMenu_, &QMenu::aboutToShow, this,
            [this] { exportCsvAction_->setEnabled(tabs_->currentIndex() != 0 && !currentTableEmpty()); });
    exitAction_ = fileMenu_->addAction(QString(), this, &QDialog::accept);
    exitAction_->setObjectName(QStringLiteral("actionExit"));
    exitAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    optionsMenu_ = menuBar_->addMenu(QString());
    optionsMenu_->setObjectName(QStringLiteral("menuOptions"));
    languageMenu_ = optionsMenu_->addMenu(QString());
    languageMenu_->setObjectName(QStringLiteral("menuLanguage"));
    // Each language is named in itself, so either can be found whatever the window shows.
    auto* languages = new QActionGroup(this);
    englishAction_ = languageMenu_->addAction(QStringLiteral("English"), this,
                                              [this] { switchLanguage(dm::kLangEnglish); });
    englishAction_->setObjectName(QStringLiteral("actionEnglish"));
    russianAction_ = languageMenu_->addAction(QString::fromUtf8("Русский"), this,
                                              [this] { switchLanguage(dm::kLangRussian); });
    russianAction_->setObjectName(QStringLiteral("actionRussian"));
    for (QAction* a : {englishAction_, russianAction_}) {
        a->setCheckable(true);
        languages->addAction(a);
    }
    optionsMenu_->addSeparator();
    passwordAction_ = optionsMenu_->addAction(QString(), this, &MainWindow::passwordEntry);
    passwordAction_->setObjectName(QStringLiteral("actionPassword"));

    if (services_.simulatorInRange) {
        simulatorMenu_ = menuBar_->addMenu(QString());
        simulatorMenu_->setObjectName(QStringLiteral("menuSimulator"));
        simInAction_ = simulatorMenu_->addAction(QString(), this, [this] { services_.simulatorInRange(true); });
        simInAction_->setObjectName(QStringLiteral("actionSimIn"));
        simOutAction_ = simulatorMenu_->addAction(QString(), this, [this] { services_.simulatorInRange(false); });
        simOutAction_->setObjectName(QStringLiteral("actionSimOut"));
    }

    if (services_.linkMenu.choices) {
        if (!services_.linkMenu.dialogs)
            services_.linkMenu.dialogs = services_.dialogs; // the capture's file dialog
        linkMenu_ = new LinkMenu(
            services_.linkMenu, [this] { return langBase_; }, [this](const std::string& text) { addStatusMessage(text); },
            this);
        menuBar_->addMenu(linkMenu_);
    }

    if (services_.openRecords) {
        QMenu* records = menuBar_->addMenu(QString());
        records->setObjectName(QStringLiteral("menuRecords"));
        QAction* open = records->addAction(QString(), this, [this] { services_.openRecords(langBase_, dosimeterReading()); });
        open->setObjectName(QStringLiteral("actionRecords"));
    }

    helpMenu_ = menuBar_->addMenu(QString());
    helpMenu_->setObjectName(QStringLiteral("menuHelp"));
    aboutAction_ = helpMenu_->addAction(QString(), this, &MainWindow::showAbout);
    aboutAction_->setObjectName(QStringLiteral("actionAbout"));
}

void MainWindow::setMenuTexts() {
    auto text = [this](int id) { return Q(Tr(id, langBase_)); };
    fileMenu_->setTitle(text(dm::IDS_MENU_FILE));
    saveAction_->setText(text(dm::IDS_MENU_SAVE_TABLE));
    exportCsvAction_->setText(text(dm::IDS_MENU_EXPORT_CSV));
    exitAction_->setText(text(dm::IDS_MENU_EXIT));
    optionsMenu_->setTitle(text(dm::IDS_MENU_OPTIONS));
    languageMenu_->setTitle(text(dm::IDS_MENU_LANGUAGE));
    passwordAction_->setText(text(dm::IDS_MENU_PASSWORD));
    if (simulatorMenu_) {
        simulatorMenu_->setTitle(text(dm::IDS_MENU_SIMULATOR));
        simInAction_->setText(text(dm::IDS_MENU_SIM_IN));
        simOutAction_->setText(text(dm::IDS_MENU_SIM_OUT));
    }
    if (linkMenu_)
        linkMenu_->setTexts();
    if (auto* records = menuBar_->findChild<QMenu*>(QStringLiteral("menuRecords"))) {
        records->setTitle(text(dm::IDS_MENU_RECORDS));
        records->actions().first()->setText(text(dm::IDS_MENU_WEARERS));
    }
    helpMenu_->setTitle(text(dm::IDS_MENU_HELP));
    aboutAction_->setText(text(dm::IDS_MENU_ABOUT));
    englishAction_->setChecked(langBase_ != dm::kLangRussian);
    russianAction_->setChecked(langBase_ == dm::kLangRussian);
}

void MainWindow::setTexts() {
    getParamsButton_->setCaption(Q(Tr(dm::IDS_GET_PARAMETERS, langBase_)));
    getHistoryButton_->setCaption(Q(Tr(dm::IDS_GET_HISTORY, langBase_)));
    sendChangesButton_->setCaption(Q(Tr(dm::IDS_SEND_CHANGES, langBase_)));
    eraseButton_->setCaption(Q(Tr(dm::IDS_ERASE_TOTAL, langBase_)));
    setWindowTitle(Q(Tr(dm::IDS_CAPTION, langBase_)));
    diagramButton_->setText(Q(Tr(dm::IDS_DISPLAY_AS_DIAGRAM, langBase_)));
    // Standard buttons and the file dialog are Qt's own; they follow with its translations.
    dm::UseQtTranslations(langBase_);
    setMenuTexts();
}

QPushButton* MainWindow::button(Action action) const {
    switch (action) {
    case Action::GetParameters: return getParamsButton_;
    case Action::GetDoseHistory: return getHistoryButton_;
    case Action::SendChanges: return sendChangesButton_;
    case Action::EraseTotalDose: return eraseButton_;
    case Action::DisplayAsDiagram: return diagramButton_;
    }
    return nullptr;
}

// ------------------------------------------------------------------ start-up

void MainWindow::initialiseWindow() {
    // One tab, "Parameters"; the history tabs come with an archive reply.
    {
        const QSignalBlocker quiet(tabs_);
        while (tabs_->count() > 0)
            tabs_->removeTab(tabs_->count() - 1);
        tabs_->addTab(Q(Tr(dm::IDS_TAB_PARAMETERS, langBase_)));
        tabs_->setCurrentIndex(0);
    }

    grid_->clear(langBase_);
    doseTable_->setLangBase(langBase_);
    neutronTable_->setLangBase(langBase_);

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
    controller_->setLanguage(langBase_, dm::LoadCatalogue(services_.catalogueFile, langBase_, *services_.dialogs),
                             catalogueFile);
    controller_->setAccess(access_);
    if (services_.recorder)
        services_.recorder->setLanguage(langBase_);
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
    grid_->fill(controller_->catalogue(), langBase_, access_, paramState_);
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
    for (const std::string& label : dm::HistoryTabLabels(controller_->archive(), langBase_))
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
    dm::DiagramWindow diagram(this, langBase_);
    const dm::DoseArchive& archive = controller_->archive();
    const dm::ChartLoadResult loaded =
        diagram.loadData(archive, controller_->historyInterval(), controller_->historyDepth());
    // The serial number of the dosimeter the history was read from, when known.
    const std::string model = archive.hasNeutron() ? "KRT-17A" : "MLV-52B";
    diagram.setDosimeter(model, controller_->archiveSerial());
    const std::string notice = dm::TruncationNotice(loaded, langBase_);
    if (!notice.empty())
        services_.dialogs->showMessage(notice);
    diagram.exec();
#endif
}

std::string MainWindow::currentTableBytes() const {
    switch (tabs_->currentIndex()) {
    case 0: return grid_->fileBytes();
    case 1: return dm::DoseTableFileBytes(*doseTable_);
    case 2: return dm::NeutronTableFileBytes(*neutronTable_);
    default: return {};
    }
}

bool MainWindow::currentTableEmpty() const {
    switch (tabs_->currentIndex()) {
    case 0: return grid_->isEmpty();
    case 1: return doseTable_->rowCount() <= 1;
    case 2: return neutronTable_->rowCount() <= 1;
    default: return true;
    }
}

void MainWindow::saveCurrentTable() {
    // A table without a row of data would give an empty file, or one of headings only.
    if (currentTableEmpty() || currentTableBytes().empty()) {
        services_.dialogs->showMessage(Tr(dm::IDS_TABLE_EMPTY, langBase_));
        return;
    }
    const dm::SaveResult result = dm::SaveTableFile(*services_.dialogs, langBase_, currentTableBytes());
    // A failure has already been told to the user by the save itself.
    if (result.skipName && services_.addSkipFile)
        services_.addSkipFile(*result.skipName);
}

void MainWindow::exportCurrentTableCsv() {
    const int tab = tabs_->currentIndex();
    if (tab != 1 && tab != 2)
        return;
    const dm::HistoryTab which = tab == 1 ? dm::HistoryTab::Dose : dm::HistoryTab::Neutron;
    const std::string bytes =
        dm::HistoryCsvBytes(controller_->archive(), tab == 1 ? *doseTable_ : *neutronTable_, which);
    if (bytes.empty()) {
        services_.dialogs->showMessage(Tr(dm::IDS_TABLE_EMPTY, langBase_));
        return;
    }
    // The same file flow as a saved table: asked name, overwrite question, whole-file replace.
    const dm::SaveResult result = dm::SaveTableFile(*services_.dialogs, langBase_, bytes);
    if (result.skipName && services_.addSkipFile)
        services_.addSkipFile(*result.skipName);
}

void MainWindow::passwordEntry() {
    // The password entry ends in a re-read: the edits are settled before it is asked.
    if (!mayDropEdits())
        return;
    const std::optional<std::string> entered = services_.dialogs->askPassword();
    if (!entered)
        return;
    const std::optional<dm::PasswordOutcome> outcome = dm::ApplyPassword(*entered, access_, langBase_);
    if (!outcome)
        return;
    access_ = outcome->access;
    controller_->setAccess(access_);
    services_.dialogs->showMessage(outcome->message);
    if (outcome->requestParameters)
        getParameters();
}

void MainWindow::switchLanguage(int langBase) {
    if (!mayDropEdits()) {
        setMenuTexts(); // the menu's tick stays on the language in force
        return;
    }
    langBase_ = langBase;
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
    AboutDialog about(this, langBase_,
                    services_.recorder ? "Records: " + services_.recorder->displayName() : std::string());
    about.exec();
}
