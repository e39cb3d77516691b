// The main window's controls, their places on its client area, and its menus.
#include "app/main_window.h"

#include "access/dialog_units.h"
#include "app/history_view.h"
#include "app/link_menu.h"
#include "app/multiline_button.h"
#include "app/qt_translations.h"
#include "app/status_log.h"
#include "core/string_table.h"
#include "grid/parameter_table_view.h"
#include "qt/qt_text.h"

#include <QActionGroup>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QVBoxLayout>

using dm::Q;
using dm::Tr;

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
                                              [this] { switchLanguage(dm::Language::English); });
    englishAction_->setObjectName(QStringLiteral("actionEnglish"));
    russianAction_ = languageMenu_->addAction(QString::fromUtf8("Русский"), this,
                                              [this] { switchLanguage(dm::Language::Russian); });
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
            services_.linkMenu, [this] { return language_; }, [this](const std::string& text) { addStatusMessage(text); },
            this);
        menuBar_->addMenu(linkMenu_);
    }

    if (services_.openRecords) {
        QMenu* records = menuBar_->addMenu(QString());
        records->setObjectName(QStringLiteral("menuRecords"));
        QAction* open = records->addAction(QString(), this, [this] { services_.openRecords(language_, dosimeterReading()); });
        open->setObjectName(QStringLiteral("actionRecords"));
    }

    helpMenu_ = menuBar_->addMenu(QString());
    helpMenu_->setObjectName(QStringLiteral("menuHelp"));
    aboutAction_ = helpMenu_->addAction(QString(), this, &MainWindow::showAbout);
    aboutAction_->setObjectName(QStringLiteral("actionAbout"));
}

void MainWindow::setMenuTexts() {
    auto text = [this](int id) { return Q(Tr(id, language_)); };
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
    englishAction_->setChecked(language_ != dm::Language::Russian);
    russianAction_->setChecked(language_ == dm::Language::Russian);
}

void MainWindow::setTexts() {
    getParamsButton_->setCaption(Q(Tr(dm::IDS_GET_PARAMETERS, language_)));
    getHistoryButton_->setCaption(Q(Tr(dm::IDS_GET_HISTORY, language_)));
    sendChangesButton_->setCaption(Q(Tr(dm::IDS_SEND_CHANGES, language_)));
    eraseButton_->setCaption(Q(Tr(dm::IDS_ERASE_TOTAL, language_)));
    setWindowTitle(Q(Tr(dm::IDS_CAPTION, language_)));
    diagramButton_->setText(Q(Tr(dm::IDS_DISPLAY_AS_DIAGRAM, language_)));
    // Standard buttons and the file dialog are Qt's own; they follow with its translations.
    dm::UseQtTranslations(language_);
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

