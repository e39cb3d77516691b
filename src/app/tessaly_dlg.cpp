#include "app/tessaly_dlg.h"

#ifdef DM_HAVE_CHARTS
#include "charts/chart_data.h"
#include "charts/graph_wnd.h"
#endif

#include "access/access_codes.h"
#include "access/dialog_units.h"
#include "app/about_dlg.h"
#include "app/history_view.h"
#include "app/qt_user_dialogs.h"
#include "app/multiline_button.h"
#include "app/status_entry.h"
#include "core/string_table.h"
#include "grid/grid_view.h"
#include "history/archive_parse.h"
#include "history/table_save.h"
#include "link/reply_signal.h"
#include "params/catalogue.h"
#include "params/command_files.h"
#include "params/edit_rules.h"
#include "records/station_recorder.h"

#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTime>
#include <QVBoxLayout>

using dm::Tr;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

dm::ClockTime Now() {
    const QTime t = QTime::currentTime();
    return {t.hour(), t.minute(), t.second()};
}

} // namespace

CTessalyDlg::CTessalyDlg(const dm::InterfaceSettings& settings, WindowServices services, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      langBase_(settings.langBase), access_(settings.access), services_(std::move(services)) {
    setObjectName(QStringLiteral("mainWindow"));
    if (!services_.dialogs) {
        ownDialogs_ = std::make_unique<QtUserDialogs>(this, [this] { return langBase_; });
        services_.dialogs = ownDialogs_.get();
    }
    buildControls();
    buildMenu();
    cycle_ = std::make_unique<dm::ExchangeCycle>(
        *services_.link, static_cast<dm::ExchangeScreen&>(*this),
        [this] { return dm::ComposeGetParameters(access_); }, langBase_);
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &CTessalyDlg::onTimer);
    initialiseWindow();
    if (services_.recorder)
        services_.recorder->setNotify([this](const std::string& text) {
            QMetaObject::invokeMethod(this, [this, text] { addStatusMessage(text); }, Qt::QueuedConnection);
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

CTessalyDlg::~CTessalyDlg() {
    timer_.stop();
    if (services_.recorder)
        services_.recorder->setNotify({});
    if (services_.recorder)
        services_.recorder->setAlert({});
    // The views read the tables, which are members and go before the child widgets would.
    delete client_;
    client_ = nullptr;
}

// ------------------------------------------------------------------ layout

void CTessalyDlg::buildControls() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    menuBar_ = new QMenuBar(this);
    layout->setMenuBar(menuBar_);

    const dm::DialogUnits du(font());
    client_ = new QWidget(this);
    client_->setFixedSize(du.size(392, 347));
    layout->addWidget(client_);

    // Group frames first, so the buttons they frame lie above them.
    for (const QRect& r : {du.rect(317, 24, 70, 52), du.rect(317, 89, 70, 41), du.rect(317, 278, 69, 31)}) {
        auto* frame = new QGroupBox(client_);
        frame->setGeometry(r);
    }

    tabs_ = new QTabBar(client_);
    tabs_->setObjectName(QStringLiteral("tabStrip"));
    tabs_->setGeometry(du.rect(7, 6, 223, 13));
    tabs_->setDrawBase(false);
    tabs_->setExpanding(false);
    tabs_->setDocumentMode(true);
    connect(tabs_, &QTabBar::currentChanged, this, &CTessalyDlg::onTabChanged);

    gridView_ = new dm::GridView(grid_, client_);
    gridView_->setObjectName(QStringLiteral("parameterGrid"));
    gridView_->setGeometry(du.rect(7, 22, 304, 300));
    gridView_->setBeginEditHandler([this](int row, int col) { return beginEdit(row, col); });
    gridView_->setEndEditHandler(
        [this](int row, int col, const std::string& text) {
            dm::EndParameterEdit(grid_, parameters_, row, col, text, langBase_);
        });

    // The two history tables are built when first needed: most sessions never show them,
    // and the window comes up faster without them.

    diagramButton_ = new QPushButton(client_);
    diagramButton_->setObjectName(QStringLiteral("displayAsDiagram"));
    diagramButton_->setGeometry(du.rect(228, 6, 107, 13));
    diagramButton_->setAutoDefault(false);
    connect(diagramButton_, &QPushButton::clicked, this, &CTessalyDlg::displayAsDiagram);

    auto makeButton = [&](const char* name, QRect r) {
        auto* b = new dm::MultiLineButton(client_);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(r);
        b->setAutoDefault(false);
        return b;
    };
    getParamsButton_ = makeButton("getParameters", du.rect(321, 32, 62, 22));
    getParamsButton_->setDefault(true);
    getHistoryButton_ = makeButton("getDoseHistory", du.rect(321, 58, 62, 14));
    sendChangesButton_ = makeButton("sendChanges", du.rect(321, 97, 62, 29));
    eraseButton_ = makeButton("eraseTotalDose", du.rect(321, 285, 62, 21));
    connect(getParamsButton_, &QPushButton::clicked, this, &CTessalyDlg::getParameters);
    connect(getHistoryButton_, &QPushButton::clicked, this, &CTessalyDlg::getDoseHistory);
    connect(sendChangesButton_, &QPushButton::clicked, this, &CTessalyDlg::sendChanges);
    connect(eraseButton_, &QPushButton::clicked, this, &CTessalyDlg::eraseTotalDose);

    progress_ = new QProgressBar(client_);
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setGeometry(du.rect(316, 328, 70, 12));
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setTextVisible(false);

    statusLog_ = new QComboBox(client_);
    statusLog_->setObjectName(QStringLiteral("statusLog"));
    const QRect logRect = du.rect(7, 328, 304, 12);
    statusLog_->setGeometry(logRect.x(), logRect.y(), logRect.width(),
                            qMax(logRect.height(), statusLog_->sizeHint().height()));
    statusLog_->setMaxVisibleItems(qMax(3, du.y(101) / qMax(1, statusLog_->fontMetrics().height() + 4)));
    statusLog_->setFocusPolicy(Qt::ClickFocus);

    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CTessalyDlg::buildMenu() {
    // The menu texts are the same in both interface languages.
    QMenu* file = menuBar_->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("menuFile"));
    QAction* save = file->addAction(QStringLiteral("Save current table as..."), this,
                                    &CTessalyDlg::saveCurrentTable);
    save->setObjectName(QStringLiteral("actionSave"));
    save->setShortcut(QKeySequence::Save);
    QAction* exit = file->addAction(QStringLiteral("Exit"), this, &QDialog::accept);
    exit->setObjectName(QStringLiteral("actionExit"));

    QMenu* options = menuBar_->addMenu(QStringLiteral("Options"));
    options->setObjectName(QStringLiteral("menuOptions"));
    QMenu* language = options->addMenu(QStringLiteral("Language"));
    language->setObjectName(QStringLiteral("menuLanguage"));
    QAction* english = language->addAction(QStringLiteral("English"), this,
                                           [this] { switchLanguage(dm::kLangEnglish); });
    english->setObjectName(QStringLiteral("actionEnglish"));
    QAction* russian = language->addAction(QString::fromUtf8("Русский"), this,
                                           [this] { switchLanguage(dm::kLangRussian); });
    russian->setObjectName(QStringLiteral("actionRussian"));
    options->addSeparator();
    QAction* password = options->addAction(QStringLiteral("Password entry..."), this,
                                           &CTessalyDlg::passwordEntry);
    password->setObjectName(QStringLiteral("actionPassword"));

    if (services_.simulatorInRange) {
        simulatorMenu_ = menuBar_->addMenu(QStringLiteral("Simulator"));
        simulatorMenu_->setObjectName(QStringLiteral("menuSimulator"));
        QAction* in = simulatorMenu_->addAction(QStringLiteral("Bring dosimeter into range"), this,
                                                [this] { services_.simulatorInRange(true); });
        in->setObjectName(QStringLiteral("actionSimIn"));
        QAction* out = simulatorMenu_->addAction(QStringLiteral("Take dosimeter out of range"), this,
                                                 [this] { services_.simulatorInRange(false); });
        out->setObjectName(QStringLiteral("actionSimOut"));
    }

    if (services_.openRecords) {
        QMenu* records = menuBar_->addMenu(QStringLiteral("Records"));
        records->setObjectName(QStringLiteral("menuRecords"));
        QAction* open = records->addAction(QStringLiteral("Wearers and doses..."), this,
                                           [this] { services_.openRecords(langBase_); });
        open->setObjectName(QStringLiteral("actionRecords"));
    }

    QMenu* help = menuBar_->addMenu(QStringLiteral("Help"));
    help->setObjectName(QStringLiteral("menuHelp"));
    QAction* about = help->addAction(QStringLiteral("About"), this, &CTessalyDlg::showAbout);
    about->setObjectName(QStringLiteral("actionAbout"));
}

void CTessalyDlg::setTexts() {
    getParamsButton_->setCaption(Q(Tr(dm::IDS_GET_PARAMETERS, langBase_)));
    getHistoryButton_->setCaption(Q(Tr(dm::IDS_GET_HISTORY, langBase_)));
    sendChangesButton_->setCaption(Q(Tr(dm::IDS_SEND_CHANGES, langBase_)));
    eraseButton_->setCaption(Q(Tr(dm::IDS_ERASE_TOTAL, langBase_)));
    setWindowTitle(Q(Tr(dm::IDS_CAPTION, langBase_)));
    diagramButton_->setText(Q(Tr(dm::IDS_DISPLAY_AS_DIAGRAM, langBase_)));
}

QPushButton* CTessalyDlg::button(int id) const {
    switch (id) {
    case dm::kButtonGetParameters: return getParamsButton_;
    case dm::kButtonGetHistory: return getHistoryButton_;
    case dm::kButtonSendChanges: return sendChangesButton_;
    case dm::kButtonEraseTotal: return eraseButton_;
    case 1024: return diagramButton_;
    default: return nullptr;
    }
}

// ------------------------------------------------------------------ start-up

void CTessalyDlg::initialiseWindow() {
    // One tab, "Parameters"; the history tabs come with an archive reply.
    {
        const QSignalBlocker quiet(tabs_);
        while (tabs_->count() > 0)
            tabs_->removeTab(tabs_->count() - 1);
        tabs_->addTab(Q(Tr(dm::IDS_TAB_PARAMETERS, langBase_)));
        tabs_->setCurrentIndex(0);
    }

    dm::SetUpParameterTable(grid_, langBase_, gridView_->clientWidth());
    gridView_->refresh();

    showTable(0);

    setTexts();
    diagramButton_->setEnabled(false);
    diagramButton_->hide();
    disableActions();

    if (services_.runTimer)
        timer_.start();
    cycle_->setLangBase(langBase_);
    cycle_->resetCounters();

    catalogue_ = dm::LoadCatalogue(services_.catalogueFile, langBase_, *services_.dialogs);
}

// ------------------------------------------------------------------ status log, buttons

void CTessalyDlg::addStatusMessage(const std::string& text) {
    statusLog_->insertItem(0, Q(dm::PaddedStatusEntry(Now(), text)));
    statusLog_->setCurrentIndex(0);
}

void CTessalyDlg::addRawStatusMessage(const std::string& text) {
    statusLog_->insertItem(0, Q(dm::RawStatusEntry(Now(), text)));
    statusLog_->setCurrentIndex(0);
}

void CTessalyDlg::disableActions() {
    for (int id : {dm::kButtonGetParameters, dm::kButtonGetHistory, dm::kButtonSendChanges, dm::kButtonEraseTotal})
        button(id)->setEnabled(false);
}

void CTessalyDlg::enableActions() {
    for (int id : {dm::kButtonGetParameters, dm::kButtonGetHistory, dm::kButtonSendChanges, dm::kButtonEraseTotal})
        button(id)->setEnabled(true);
}

void CTessalyDlg::enableButton(int id) {
    if (QPushButton* b = button(id))
        b->setEnabled(true);
}

bool CTessalyDlg::isButtonEnabled(int id) const {
    const QPushButton* b = button(id);
    return b && b->isEnabled();
}

int CTessalyDlg::currentTab() const { return tabs_->currentIndex(); }

void CTessalyDlg::setProgressBar(int position) { progress_->setValue(qBound(0, position, 100)); }

// ------------------------------------------------------------------ tabs and views

void CTessalyDlg::selectTab(int index) { tabs_->setCurrentIndex(index); }

void CTessalyDlg::onTabChanged(int index) {
    switch (index) {
    case 0:
        if (services_.link->GetLinkStatus() != dm::kLinkNone) {
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

void CTessalyDlg::showParameterGrid() { showTable(0); }

dm::HistoryView* CTessalyDlg::historyView(int tab) {
    if (tab != 1 && tab != 2)
        return nullptr;
    dm::HistoryView*& view = tab == 1 ? doseView_ : neutronView_;
    if (!view) {
        const dm::DialogUnits du(font());
        view = new dm::HistoryView(tab == 1 ? doseTable_ : neutronTable_, client_);
        view->setObjectName(tab == 1 ? QStringLiteral("doseHistory") : QStringLiteral("neutronHistory"));
        view->setGeometry(tab == 1 ? du.rect(7, 22, 304, 300) : du.rect(7, 22, 294, 300));
        view->setEnabled(false);
        view->hide();
        view->refresh();
    }
    return view;
}

void CTessalyDlg::showTable(int tab) {
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

void CTessalyDlg::emptyParameterGrid() {
    // Only a departure empties the grid: nothing after it belongs to the dosimeter that left.
    if (services_.recorder)
        services_.recorder->dosimeterGone();
    parameters_ = {}; // the dosimeter's replies are gone with it
    grid_.removeNonFixedRows();
    grid_.stretchColumnsToFit(gridView_->clientWidth());
    gridView_->refresh();
}

void CTessalyDlg::clearHistoryTables() {
    doseTable_.clear();
    neutronTable_.clear();
    for (dm::HistoryView* view : {doseView_, neutronView_})
        if (view)
            view->refresh();
}

void CTessalyDlg::hideDiagramButton() {
    diagramButton_->setEnabled(false);
    diagramButton_->hide();
}

void CTessalyDlg::dropHistoryTabs() {
    // The program's own tab changes do not run the tab switch: that one reads (and so
    // consumes) the link status, which belongs to the next tick.
    const QSignalBlocker quiet(tabs_);
    tabs_->setCurrentIndex(0);
    if (tabs_->count() > 2)
        tabs_->removeTab(2);
    if (tabs_->count() > 1)
        tabs_->removeTab(1);
}

void CTessalyDlg::invalidate() { update(); }

// ------------------------------------------------------------------ replies

void CTessalyDlg::parseParameterReply(const std::string& text) {
    parameters_ = dm::ReadParameterSet(text);
    showParameters();
    if (services_.recorder)
        services_.recorder->parametersArrived(text);
}

void CTessalyDlg::showParameters() {
    dm::FillParameterGrid(parameters_, catalogue_, langBase_, access_, gridView_->clientWidth(),
                          grid_, paramState_);
    if (!paramState_.caption.empty())
        setWindowTitle(Q(paramState_.caption));
    gridView_->refresh();
}

std::vector<dm::ParameterRow> CTessalyDlg::shownParameterRows() const {
    return dm::ParameterRows(parameters_, catalogue_, langBase_, access_);
}

void CTessalyDlg::parseArchiveReply(const std::string& text) {
    const dm::ArchiveParseResult result =
        dm::ParseArchiveReply(text, paramState_.historyInterval, langBase_, doseTable_, neutronTable_);
    paramState_.neutron = result.neutron;
    if (services_.recorder)
        services_.recorder->archiveArrived(text, paramState_.historyInterval);
    {
        const QSignalBlocker quiet(tabs_);
        if (tabs_->count() > 2)
            tabs_->removeTab(2);
        if (tabs_->count() > 1)
            tabs_->removeTab(1);
        for (const std::string& label : result.tabLabels)
            tabs_->addTab(Q(label));
    }
    // A history tab that was on screen may have gone with the old labels.
    if (tabs_->currentIndex() == 0 && !gridView_->isVisibleTo(this))
        showTable(0);
    for (dm::HistoryView* view : {doseView_, neutronView_})
        if (view)
            view->refresh();
    diagramButton_->show();
    diagramButton_->setEnabled(true);
    update();
}

void CTessalyDlg::playReplySignal() { dm::PlayReplySignal(); }

void CTessalyDlg::onTimer() { cycle_->tick(); }

// ------------------------------------------------------------------ commands

void CTessalyDlg::startCommand(const dm::ExchangeStart& start) { cycle_->startCommand(start); }

void CTessalyDlg::getParameters() { startCommand(dm::ComposeGetParameters(access_)); }

void CTessalyDlg::getDoseHistory() {
    const dm::ExchangeStart start = dm::ComposeGetDoseHistory(parameters_, shownParameterRows());
    if (start.noHistoryRecords)
        services_.dialogs->showMessage(Tr(dm::IDS_NO_HISTORY_RECORDS, langBase_));
    startCommand(start);
}

void CTessalyDlg::sendChanges() {
    // An edit still open in the grid belongs to the changes.
    if (gridView_->isEditing())
        gridView_->setFocus();
    const dm::ExchangeStart start = dm::ComposeSendChanges(parameters_, shownParameterRows(), paramState_.neutron);
    startCommand(start);
    if (services_.recorder && start.started && !start.files.empty())
        services_.recorder->changesSent(start.files);
}

void CTessalyDlg::eraseTotalDose() {
    const dm::ExchangeStart start = dm::ComposeEraseTotalDose(langBase_, *services_.dialogs);
    startCommand(start);
    if (services_.recorder && start.started)
        services_.recorder->erasePushed();
}

bool CTessalyDlg::beginEdit(int row, int col) {
    return dm::BeginParameterEdit(grid_, parameters_, row, col, langBase_, *services_.dialogs);
}

void CTessalyDlg::displayAsDiagram() {
    if (services_.openDiagram) {
        services_.openDiagram();
        return;
    }
#ifdef DM_HAVE_CHARTS
    // A new window, with a new chart, for every press; it reads the history back out of
    // the tables' hidden columns.
    dm::CGraphWnd diagram(this, langBase_);
    const dm::ChartLoadResult loaded = diagram.loadData(doseTable_, neutronTable_, paramState_.neutron,
                                                        paramState_.historyInterval, paramState_.historyDepth);
    const std::string notice = dm::TruncationNotice(loaded, langBase_);
    if (!notice.empty())
        services_.dialogs->showMessage(notice);
    diagram.exec();
#endif
}

std::string CTessalyDlg::currentTableBytes() const {
    switch (tabs_->currentIndex()) {
    case 0: return dm::ParameterTableFileBytes(grid_);
    case 1: return dm::DoseTableFileBytes(doseTable_);
    case 2: return dm::NeutronTableFileBytes(neutronTable_);
    default: return {};
    }
}

void CTessalyDlg::saveCurrentTable() {
    const dm::SaveResult result = dm::SaveTableFile(*services_.dialogs, langBase_, currentTableBytes());
    // A failure has already been told to the user by the save itself.
    if (result.skipName && services_.addSkipFile)
        services_.addSkipFile(*result.skipName);
}

void CTessalyDlg::passwordEntry() {
    const std::optional<std::string> entered = services_.dialogs->askPassword();
    if (!entered)
        return;
    const std::optional<dm::PasswordOutcome> outcome = dm::ApplyPassword(*entered, access_, langBase_);
    if (!outcome)
        return;
    access_ = outcome->access;
    services_.dialogs->showMessage(outcome->message);
    if (outcome->requestParameters)
        getParameters();
}

void CTessalyDlg::switchLanguage(int langBase) {
    langBase_ = langBase;
    initialiseWindow();
    // The table is relabelled from the parameters already read, edits included.
    if (parameters_.replied())
        showParameters();
    cycle_->resetForLanguageSwitch();
    setProgressBar(100);
    update();
}

void CTessalyDlg::showAbout() {
    CAboutDlg about(this, langBase_,
                    services_.recorder ? "Records: " + services_.recorder->displayName() : std::string());
    about.exec();
}
