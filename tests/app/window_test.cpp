// The main window over a scripted link and scripted dialogs: layout, texts in both
// languages, the status log, the tab rules, the commands, the language switch, the
// password entry and saving, tick by tick.
#include "access/dialog_units.h"
#include "access/password_dialog.h"
#include "app/history_view.h"
#include "app/multiline_button.h"
#include "app/qt_user_dialogs.h"
#include "app/main_window.h"
#include "core/string_table.h"
#include "core/text_file.h"
#include "fake_link.h"
#include "grid/grid_view.h"
#include "grid/parameter_table_view.h"
#include "history/dose_archive.h"
#include "history/history_csv.h"
#include "history/history_table.h"
#include "history/table_save.h"
#include "scripted_dialogs.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QToolTip>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTemporaryDir>
#include <QtTest>

#include <fstream>
#include <functional>
#include <memory>

namespace {

const std::string kParamsFile = DM_TEST_DATA "/window-params-krt17a.txt";
const std::string kArchiveFile = DM_TEST_DATA "/archive-krt17a.txt";
const std::string kArchiveMlvFile = DM_TEST_DATA "/archive-mlv52b.txt";

std::string FileBytes(const std::string& path) {
    auto bytes = dm::TryReadFile(path);
    if (!bytes)
        qFatal("missing test file %s", path.c_str());
    return *bytes;
}

const std::string kGetParameters = "get_parameters=255\r\n#\r\n";

struct Rig {
    FakeLink link;
    ScriptedDialogs dialogs;
    std::vector<std::string> skipped;
    int diagrams = 0;
    std::unique_ptr<MainWindow> window;

    explicit Rig(dm::Language language = dm::Language::English, int access = 0,
                 std::filesystem::path catalogue = DM_SOURCE_DIR "/data/Commands.lst") {
        WindowServices s;
        s.dialogs = &dialogs;
        s.link = &link;
        s.addSkipFile = [this](const std::string& n) { skipped.push_back(n); };
        s.openDiagram = [this] { ++diagrams; };
        s.catalogueFile = std::move(catalogue);
        s.runTimer = false;
        window = std::make_unique<MainWindow>(dm::InterfaceSettings{language, access}, std::move(s));
        window->show();
    }
    MainWindow& w() { return *window; }
    void tick(int n = 1) {
        for (int i = 0; i < n; ++i)
            window->onTimer();
    }
    QString newestLog() const { return window->statusLog()->itemText(0); }
    int logCount() const { return window->statusLog()->count(); }
    bool actionsEnabled(bool expected) {
        for (Action id : {Action::GetParameters, Action::GetDoseHistory, Action::SendChanges, Action::EraseTotalDose})
            if (window->button(id)->isEnabled() != expected)
                return false;
        return true;
    }
    // A dosimeter arrives and answers the automatic parameter request.
    void arriveWithParameters() {
        link.status = dm::kLinkPresent;
        link.statusQueue = {dm::kLinkArrived};
        tick();
        link.deliverParams(FileBytes(kParamsFile));
        tick();
    }
    // The model row of the parameter row with this key, or -1.
    int findRow(const std::string& key) { return w().grid().rowOfKey(key); }
};

QString Caption(QPushButton* b) {
    auto* m = qobject_cast<dm::MultiLineButton*>(b);
    return m ? m->caption() : b->text();
}

QAction* FindAction(QWidget* w, const char* name) { return w->findChild<QAction*>(QLatin1String(name)); }

} // namespace

class WindowTest : public QObject {
    Q_OBJECT
private slots:
    void everyControlAtItsPlace() {
        Rig rig;
        MainWindow& w = rig.w();
        const dm::DialogUnits du(w.font());
        auto geometryOf = [&](const char* name) {
            auto* child = w.findChild<QWidget*>(QLatin1String(name));
            if (!child)
                qFatal("no control %s", name);
            return child->geometry();
        };
        QCOMPARE(geometryOf("tabStrip"), du.rect(7, 6, 223, 13));
        QCOMPARE(geometryOf("parameterGrid"), du.rect(7, 22, 304, 300));
        QCOMPARE(w.historyView(1)->geometry(), du.rect(7, 22, 304, 300));
        QCOMPARE(w.historyView(2)->geometry(), du.rect(7, 22, 294, 300));
        QCOMPARE(geometryOf("displayAsDiagram"), du.rect(228, 6, 107, 13));
        QCOMPARE(geometryOf("getParameters"), du.rect(321, 32, 62, 22));
        QCOMPARE(geometryOf("getDoseHistory"), du.rect(321, 58, 62, 14));
        QCOMPARE(geometryOf("sendChanges"), du.rect(321, 97, 62, 29));
        QCOMPARE(geometryOf("eraseTotalDose"), du.rect(321, 285, 62, 21));
        QCOMPARE(geometryOf("progress"), du.rect(316, 328, 70, 12));
        QCOMPARE(geometryOf("statusLog").topLeft(), du.rect(7, 328, 0, 0).topLeft());
        QCOMPARE(geometryOf("statusLog").width(), du.x(304));
        QCOMPARE(w.findChildren<QGroupBox*>().size(), 3);
        QVERIFY(!w.button(Action::GetParameters)->isDefault()); // Enter after an edit must not re-read

        // That is the smallest size; a larger window gives the room to the tables, the
        // buttons keep to the right edge and the log to the bottom.
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QSize smallest = w.size();
        w.resize(smallest + QSize(200, 100));
        QTRY_COMPARE(w.size(), smallest + QSize(200, 100));
        QCOMPARE(geometryOf("parameterGrid"), du.rect(7, 22, 304, 300).adjusted(0, 0, 200, 100));
        QCOMPARE(w.historyView(2)->geometry(), du.rect(7, 22, 294, 300).adjusted(0, 0, 200, 100));
        QCOMPARE(geometryOf("getParameters"), du.rect(321, 32, 62, 22).translated(200, 0));
        QCOMPARE(geometryOf("eraseTotalDose"), du.rect(321, 285, 62, 21).translated(200, 100));
        QCOMPARE(geometryOf("statusLog").width(), du.x(304) + 200);
        w.resize(smallest);
        QTRY_COMPARE(geometryOf("parameterGrid"), du.rect(7, 22, 304, 300));

        // Start state: one tab, grid shown, history tables and the diagram button hidden, actions off.
        QCOMPARE(w.tabBar()->count(), 1);
        QVERIFY(w.gridView()->isVisible());
        QVERIFY(!w.findChild<QWidget*>("doseHistory")->isVisible());
        QVERIFY(!w.findChild<QWidget*>("neutronHistory")->isVisible());
        QVERIFY(!w.button(Action::DisplayAsDiagram)->isVisible());
        QVERIFY(rig.actionsEnabled(false));
        QCOMPARE(w.progressBar()->minimum(), 0);
        QCOMPARE(w.progressBar()->maximum(), 100);
        QCOMPARE(w.statusLog()->count(), 0);
        // The empty parameter table: its heading alone, a name and a value column.
        QVERIFY(w.grid().isEmpty());
        QCOMPARE(w.gridView()->model()->columnCount(), 2);
    }

    // Menus, the Language menu's tick and Qt's own standard buttons follow the language,
    // at start and at a switch.
    void menusFollowTheLanguage() {
        Rig rig(dm::Language::Russian);
        MainWindow& w = rig.w();
        auto yes = [] { return QCoreApplication::translate("QPlatformTheme", "&Yes"); };
        QCOMPARE(FindAction(&w, "actionSave")->text().toStdString(), dm::Tr(dm::IDS_MENU_SAVE_TABLE, dm::Language::Russian));
        QCOMPARE(w.findChild<QMenu*>("menuFile")->title().toStdString(), dm::Tr(dm::IDS_MENU_FILE, dm::Language::Russian));
        QVERIFY(FindAction(&w, "actionRussian")->isChecked());
        QVERIFY(!FindAction(&w, "actionEnglish")->isChecked());
        if (QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_ru.qm"))
            QCOMPARE(yes(), QString::fromUtf8("&Да"));
        else
            qWarning("qtbase_ru.qm is not installed: Qt's standard buttons stay English");

        FindAction(&w, "actionEnglish")->trigger();
        QCOMPARE(FindAction(&w, "actionExit")->text(), QString("E&xit"));
        QCOMPARE(FindAction(&w, "actionEnglish")->text(), QString("English"));
        QCOMPARE(FindAction(&w, "actionRussian")->text(), QString::fromUtf8("Русский"));
        QVERIFY(FindAction(&w, "actionEnglish")->isChecked());
        QVERIFY(!FindAction(&w, "actionRussian")->isChecked());
        QCOMPARE(yes(), QString("&Yes"));
        QVERIFY(!w.simulatorMenu()); // only when a simulated dosimeter runs
    }

    void textsInBothLanguages_data() {
        QTest::addColumn<dm::Language>("lang");
        QTest::newRow("en") << dm::Language::English;
        QTest::newRow("ru") << dm::Language::Russian;
    }
    void textsInBothLanguages() {
        QFETCH(dm::Language, lang);
        Rig rig(lang);
        MainWindow& w = rig.w();
        auto tr = [&](int id) { return QString::fromStdString(dm::Tr(id, lang)); };
        QCOMPARE(Caption(w.button(Action::GetParameters)), tr(dm::IDS_GET_PARAMETERS));
        QCOMPARE(Caption(w.button(Action::GetDoseHistory)), tr(dm::IDS_GET_HISTORY));
        QCOMPARE(Caption(w.button(Action::SendChanges)), tr(dm::IDS_SEND_CHANGES));
        QCOMPARE(Caption(w.button(Action::EraseTotalDose)), tr(dm::IDS_ERASE_TOTAL));
        QCOMPARE(w.button(Action::DisplayAsDiagram)->text(), tr(dm::IDS_DISPLAY_AS_DIAGRAM));
        QCOMPARE(w.windowTitle(), tr(dm::IDS_CAPTION));
        QCOMPARE(w.tabBar()->tabText(0), tr(dm::IDS_TAB_PARAMETERS));
        QCOMPARE(w.gridView()->model()->headerData(0, Qt::Horizontal).toString(), tr(dm::IDS_COL_NAME));
        QCOMPARE(w.gridView()->model()->headerData(1, Qt::Horizontal).toString(), tr(dm::IDS_COL_VALUE));
        // Long captions wrap inside their buttons rather than being cut.
        for (Action id : {Action::GetParameters, Action::GetDoseHistory, Action::SendChanges, Action::EraseTotalDose}) {
            QPushButton* b = w.button(id);
            for (const QString& line : b->text().split('\n'))
                QVERIFY2(b->fontMetrics().horizontalAdvance(line) <= b->width(), qPrintable(line));
        }
    }

    void statusLogNewestOnTopAndSelected() {
        Rig rig;
        MainWindow& w = rig.w();
        w.addStatusMessage("first");
        w.addStatusMessage("second");
        w.addRawStatusMessage("line one\r\nline two\n");
        QCOMPARE(rig.logCount(), 3);
        QCOMPARE(w.statusLog()->currentIndex(), 0);
        QVERIFY(w.statusLog()->itemText(1).endsWith("  second"));
        QVERIFY(w.statusLog()->itemText(2).endsWith("  first"));
        QVERIFY(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d  second$").match(w.statusLog()->itemText(1)).hasMatch());
        QVERIFY(QRegularExpression("^\\d{1,2}:\\d{1,2}:\\d{1,2}  line one  line two $").match(rig.newestLog()).hasMatch());
    }

    void arrivalReadsTheParametersWithoutTheUser() {
        Rig rig;
        rig.link.status = dm::kLinkPresent;
        rig.link.statusQueue = {dm::kLinkArrived};
        rig.tick();
        QCOMPARE(rig.link.sent, std::vector<std::string>{kGetParameters});
        QVERIFY(rig.actionsEnabled(false));
        rig.link.deliverParams(FileBytes(kParamsFile));
        rig.tick();
        QVERIFY(rig.w().statusLog()->itemText(1).endsWith("  Parameters received"));
        QVERIFY(rig.actionsEnabled(true));
        QCOMPARE(rig.w().progressBar()->value(), 100);
        QCOMPARE(rig.w().windowTitle(), QString("Dosimeter manager: KRT-17A"));
        QVERIFY(rig.findRow("dose_val") >= 0);
        QCOMPARE(rig.findRow("g_ks_large"), -1); // locked
        QTRY_COMPARE(rig.w().gridView()->model()->rowCount(), int(rig.w().grid().rows().size()));
    }

    // The user's tab change between a discovery event and the next tick must not eat it.
    void tabChangeLosesNeitherArrivalNorDeparture() {
        auto withHistory = [](Rig& rig) {
            rig.arriveWithParameters();
            rig.w().button(Action::GetDoseHistory)->click();
            rig.link.deliverArchive(FileBytes(kArchiveFile));
            rig.tick();
            QVERIFY(rig.w().tabBar()->count() > 1);
            QVERIFY(!rig.w().doseTable().text(1, 1).empty());
        };
        {
            Rig rig;
            withHistory(rig);
            rig.w().selectTab(1);
            const std::size_t pushes = rig.link.sent.size();
            rig.link.statusQueue = {dm::kLinkArrived}; // another dosimeter took its place
            rig.w().selectTab(0);
            rig.tick();
            QCOMPARE(rig.link.sent.size(), pushes + 1);
            QCOMPARE(rig.link.sent.back(), kGetParameters);
        }
        {
            Rig rig;
            withHistory(rig);
            rig.w().selectTab(1);
            rig.link.status = dm::kLinkNone;
            rig.link.statusQueue = {dm::kLinkGone};
            rig.w().selectTab(0);
            rig.tick();
            // Gone: the history stays with the table, nothing may be asked of the dosimeter.
            QVERIFY(rig.w().controller().outOfRange());
            QVERIFY(!rig.w().doseTable().text(1, 1).empty());
            QVERIFY(rig.actionsEnabled(false));
        }
    }

    void bareCatalogueIsNamedOnceInTheStatusLog() {
        QTemporaryDir dir;
        const std::string file = dir.filePath("Commands.lst").toStdString();
        std::ofstream(file, std::ios::binary) << "<KRT17A-en>\r\ndose_val#Dose@r$defaultcolor\r\n";
        Rig rig(dm::Language::English, 0, file);
        rig.arriveWithParameters();
        rig.w().getParameters();
        rig.link.deliverParams(FileBytes(kParamsFile));
        rig.tick(2);
        const QString notice = QString::fromStdString("Catalogue \"" + file + "\" has no section <KRT17A-en>");
        // Requested, the notice, received, the dosimeter named; then requested and received again.
        QCOMPARE(rig.logCount(), 6);
        QVERIFY(rig.w().statusLog()->itemText(4).endsWith(notice + ": no parameters shown from it"));
    }

    void noReplyEndsEachCommandOnItsTick_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("timeoutTick");
        QTest::newRow("get parameters") << "params" << 14;
        QTest::newRow("send changes") << "send" << 14;
        QTest::newRow("erase total dose") << "erase" << 18;
        QTest::newRow("get dose history") << "history" << 44;
    }
    void noReplyEndsEachCommandOnItsTick() {
        QFETCH(QString, command);
        QFETCH(int, timeoutTick);
        Rig rig;
        rig.arriveWithParameters();
        // Let the idle time-out rhythm pass so the command starts from counter 0 cleanly.
        const int before = rig.logCount();
        const std::size_t pushes = rig.link.sent.size();
        if (command == "params")
            rig.w().button(Action::GetParameters)->click();
        else if (command == "send")
            rig.w().button(Action::SendChanges)->click();
        else if (command == "erase")
            rig.w().button(Action::EraseTotalDose)->click();
        else
            rig.w().button(Action::GetDoseHistory)->click();
        QVERIFY(rig.link.sent.size() > pushes);
        QVERIFY(rig.actionsEnabled(false));
        const QString interrupted = QString::fromStdString(dm::Tr(dm::IDS_CONNECTION_INTERRUPTED, dm::Language::English));
        const int messagesAtStart = rig.logCount();
        for (int t = 1; t < timeoutTick; ++t) {
            rig.tick();
            QVERIFY2(!rig.newestLog().endsWith(interrupted), qPrintable(QString("tick %1").arg(t)));
        }
        rig.tick();
        QVERIFY(rig.newestLog().endsWith("  " + interrupted));
        QCOMPARE(rig.logCount(), messagesAtStart + 1);
        QVERIFY(rig.actionsEnabled(true));
        QCOMPARE(rig.w().progressBar()->value(), 100);
        Q_UNUSED(before);
    }

    void editSendAcceptedAndParametersAgain() {
        Rig rig;
        rig.arriveWithParameters();
        const int row = rig.findRow("dose_threshold");
        QVERIFY(row >= 0);
        dm::ParameterTableView* view = rig.w().gridView();
        QVERIFY(view->editCell(row, 1));
        auto* edit = qobject_cast<QLineEdit*>(view->indexWidget(view->indexOfCell(row, 1)));
        QVERIFY(edit);
        edit->setText("3.0E-02");
        QTest::keyClick(edit, Qt::Key_Return);
        QTRY_VERIFY(!view->isEditing());
        const std::size_t pushes = rig.link.sent.size();
        rig.w().button(Action::SendChanges)->click();
        QCOMPARE(rig.link.sent.size(), pushes + 1);
        const std::string& file = rig.link.sent.back();
        QVERIFY(file.find("dose_threshold = 3.0E-02\r\n") != std::string::npos);
        QVERIFY(file.find("get_parameters=255\r\n#\r\n") != std::string::npos);
        QVERIFY(rig.newestLog().endsWith(QString::fromStdString(dm::Tr(dm::IDS_CHANGES_SENT, dm::Language::English))));
        const int logged = rig.logCount();
        rig.link.deliverResult("accepted\r\n");
        rig.tick();
        QCOMPARE(rig.logCount(), logged); // the acceptance leaves no trace
        QVERIFY(rig.actionsEnabled(false));
        rig.link.deliverParams(FileBytes(kParamsFile));
        rig.tick();
        QVERIFY(rig.newestLog().endsWith("  Parameters received"));
        QVERIFY(rig.actionsEnabled(true));
    }

    void otherResultTextEndsTheExchangeAtOnce() {
        Rig rig;
        rig.arriveWithParameters();
        rig.w().button(Action::GetParameters)->click();
        rig.link.deliverResult("error: busy\r\n");
        rig.tick();
        QVERIFY(rig.newestLog().trimmed().endsWith("  error: busy"));
        QVERIFY(!rig.newestLog().contains(QLatin1Char('\n')));
        QVERIFY(rig.actionsEnabled(true));
    }

    void doseHistoryTabsAndDiagram() {
        Rig rig;
        rig.arriveWithParameters();
        rig.w().button(Action::GetDoseHistory)->click();
        QCOMPARE(rig.link.sent.back(), std::string("get_archive\r\n"));
        rig.link.deliverArchive(FileBytes(kArchiveFile));
        rig.tick();
        MainWindow& w = rig.w();
        QVERIFY(rig.newestLog().endsWith("  Archive received"));
        QCOMPARE(w.tabBar()->count(), 3);
        QCOMPARE(w.tabBar()->tabText(1), QString("Dose history"));
        QCOMPARE(w.tabBar()->tabText(2), QString("Neutron dose history"));
        QVERIFY(w.button(Action::DisplayAsDiagram)->isVisible());
        QVERIFY(w.button(Action::DisplayAsDiagram)->isEnabled());
        QVERIFY(w.doseTable().rowCount() > 1);
        QVERIFY(w.neutronTable().rowCount() > 1);

        // Tab 1 shows the dose table with its hidden raw column, and disables "Send changes".
        w.tabBar()->setCurrentIndex(1);
        auto* dose = w.findChild<dm::HistoryView*>("doseHistory");
        QVERIFY(dose->isVisible());
        QVERIFY(!w.gridView()->isVisible());
        QVERIFY(dose->isColumnHidden(1));
        QCOMPARE(dose->columnWidth(2), dm::TwipsToPixels(3000, dose->logicalDpiX()));
        QVERIFY(!w.button(Action::SendChanges)->isEnabled());
        QVERIFY(w.button(Action::SendChanges)->isVisible());
        w.tabBar()->setCurrentIndex(2);
        auto* neutron = w.findChild<dm::HistoryView*>("neutronHistory");
        QVERIFY(neutron->isVisible());
        QVERIFY(!dose->isVisible());
        QVERIFY(neutron->isColumnHidden(1));
        QVERIFY(neutron->isColumnHidden(4));
        // Back on tab 0 with a dosimeter present, "Send changes" comes back.
        w.tabBar()->setCurrentIndex(0);
        QVERIFY(w.gridView()->isVisible());
        QVERIFY(w.button(Action::SendChanges)->isEnabled());

        w.button(Action::DisplayAsDiagram)->click();
        QCOMPARE(rig.diagrams, 1);
    }

    void tabZeroWithoutDosimeterLeavesSendChangesAlone() {
        Rig rig;
        rig.arriveWithParameters();
        rig.w().button(Action::GetDoseHistory)->click();
        rig.link.deliverArchive(FileBytes(kArchiveFile));
        rig.tick();
        rig.w().tabBar()->setCurrentIndex(1);
        QVERIFY(!rig.w().button(Action::SendChanges)->isEnabled());
        rig.link.status = dm::kLinkNone;
        rig.tick(); // the window learns of the link from the cycle's tick only
        rig.w().tabBar()->setCurrentIndex(0);
        QVERIFY(!rig.w().button(Action::SendChanges)->isEnabled());
    }

    // A short dropout costs nothing: the table stays greyed with its edits, the history
    // stays; the same dosimeter back gets its edits offered again, another asks first.
    void departureKeepsTheTableTheEditsAndTheHistory() {
        Rig rig;
        rig.arriveWithParameters();
        rig.w().button(Action::GetDoseHistory)->click();
        rig.link.deliverArchive(FileBytes(kArchiveFile));
        rig.tick();
        MainWindow& w = rig.w();
        const int row = rig.findRow("dose_threshold");
        w.controller().editableParameters().setValue("dose_threshold", "3.0E-02");
        w.tabBar()->setCurrentIndex(1);
        rig.link.statusQueue = {dm::kLinkGone};
        rig.link.status = dm::kLinkNone;
        rig.tick();
        QCOMPARE(w.tabBar()->count(), 3);
        QCOMPARE(w.tabBar()->currentIndex(), 1);
        QVERIFY(w.button(Action::DisplayAsDiagram)->isVisible());
        QVERIFY(!w.doseTable().text(1, 1).empty());
        QVERIFY(rig.actionsEnabled(false));
        QCOMPARE(w.grid().rowCount() > row, true);
        QVERIFY(w.grid().outOfRange());
        QVERIFY(!(w.grid().flags(w.grid().index(row, 1)) & Qt::ItemIsEditable));
        QVERIFY(w.grid().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString().contains("out of range"));
        QCOMPARE(w.parameters().value("dose_threshold").value_or(""), std::string("3.0E-02"));
        QVERIFY(rig.dialogs.unsentQuestions.empty()); // leaving asks nothing

        // The same dosimeter comes back: its reading carries the edit, offered again;
        // the history is still its own.
        rig.dialogs.unsentAnswers = {dm::UnsentEditsAnswer::Cancel};
        rig.arriveWithParameters();
        QCOMPARE(rig.dialogs.unsentQuestions.size(), std::size_t(1));
        QCOMPARE(rig.dialogs.unsentQuestions.back(), dm::Tr(dm::IDS_ASK_KEPT_EDITS, dm::Language::English));
        QVERIFY(!w.controller().outOfRange());
        QVERIFY(w.grid().flags(w.grid().index(row, 1)) & Qt::ItemIsEditable);
        QCOMPARE(w.parameters().value("dose_threshold").value_or(""), std::string("3.0E-02"));
        QCOMPARE(w.tabBar()->count(), 3);
        QVERIFY(rig.actionsEnabled(true) || !w.button(Action::SendChanges)->isEnabled());

        // Gone again, and another dosimeter answers: asked first; Discard takes its table
        // and drops the history of the first.
        rig.link.statusQueue = {dm::kLinkGone};
        rig.link.status = dm::kLinkNone;
        rig.tick();
        rig.dialogs.unsentAnswers = {dm::UnsentEditsAnswer::Discard};
        std::string other = FileBytes(kParamsFile);
        other.replace(other.find("17042"), 5, "17999");
        rig.link.status = dm::kLinkPresent;
        rig.link.statusQueue = {dm::kLinkArrived};
        rig.tick();
        rig.link.deliverParams(other);
        rig.tick();
        QCOMPARE(rig.dialogs.unsentQuestions.size(), std::size_t(2));
        QVERIFY(rig.dialogs.unsentQuestions.back().find("17999") != std::string::npos);
        QCOMPARE(w.parameters().serialNumber(), std::string("17999"));
        QVERIFY(!dm::HasUnsentEdits(w.parameters()));
        QCOMPARE(w.tabBar()->count(), 1);
        QVERIFY(!w.button(Action::DisplayAsDiagram)->isVisible());
    }

    void languageSwitch() {
        Rig rig;
        rig.arriveWithParameters();
        rig.w().button(Action::GetDoseHistory)->click();
        rig.link.deliverArchive(FileBytes(kArchiveFile));
        rig.tick();
        rig.w().button(Action::GetParameters)->click(); // an exchange running
        QVERIFY(rig.actionsEnabled(false));

        FindAction(&rig.w(), "actionRussian")->trigger();
        MainWindow& w = rig.w();
        QCOMPARE(w.language(), dm::Language::Russian);
        // The history read stays open, relabelled: tabs, tables and the diagram button.
        QCOMPARE(w.tabBar()->count(), 3);
        QCOMPARE(w.tabBar()->tabText(0), QString::fromUtf8("Параметры"));
        QCOMPARE(w.tabBar()->tabText(2), QString::fromStdString(dm::Tr(dm::IDS_NEUTRON_HISTORY, dm::Language::Russian)));
        QVERIFY(w.button(Action::DisplayAsDiagram)->isVisible());
        w.tabBar()->setCurrentIndex(2);
        auto* neutron = w.findChild<dm::HistoryView*>("neutronHistory");
        QCOMPARE(neutron->model()->headerData(3, Qt::Horizontal).toString().toStdString(),
                 dm::Tr(dm::IDS_SPECTRUM_COEFF, dm::Language::Russian));
        QVERIFY(neutron->model()->index(0, 2).data().toString().endsWith(QString::fromUtf8("мкЗв")));
        w.tabBar()->setCurrentIndex(0);
        QVERIFY(rig.actionsEnabled(true));
        QCOMPARE(w.progressBar()->value(), 100);
        QCOMPARE(w.cycle().tickCounter(), 0);
        QCOMPARE(w.windowTitle(), QString::fromUtf8("Панель управления дозиметром КРТ-17А"));
        const int row = rig.findRow("cfg_final_sound");
        QVERIFY(row >= 0);
        QCOMPARE(QString::fromStdString(w.grid().text(row, 1)), QString::fromUtf8("включить"));
        QCOMPARE(Caption(w.button(Action::GetParameters)), QString::fromUtf8("Запрос параметров"));

        // The dosimeter leaves; its table stays, relabelled in English and marked.
        const int rows = w.grid().rowCount();
        rig.link.statusQueue = {dm::kLinkGone};
        rig.link.status = dm::kLinkNone;
        rig.tick();
        FindAction(&w, "actionEnglish")->trigger();
        QCOMPARE(w.grid().rowCount(), rows);
        QCOMPARE(w.gridView()->model()->headerData(0, Qt::Horizontal).toString(), QString("Parameter name (out of range)"));
    }

    void passwordEntry() {
        Rig rig;
        rig.arriveWithParameters();
        const std::size_t pushes = rig.link.sent.size();
        // Wrong code: told so, nothing requested.
        rig.dialogs.passwords = {std::string("2094")};
        FindAction(&rig.w(), "actionPassword")->trigger();
        QCOMPARE(rig.dialogs.messages.back(), dm::Tr(dm::IDS_WRONG_PASSWORD, dm::Language::English));
        QCOMPARE(rig.link.sent.size(), pushes);
        QCOMPARE(rig.w().access(), 0);
        // Cancel: nothing at all.
        const std::size_t told = rig.dialogs.messages.size();
        FindAction(&rig.w(), "actionPassword")->trigger();
        QCOMPARE(rig.dialogs.messages.size(), told);
        // Group 1 unlocks, parameters requested with the device password, and the row shows.
        rig.dialogs.passwords = {std::string("20947")};
        FindAction(&rig.w(), "actionPassword")->trigger();
        QCOMPARE(rig.w().access(), 1);
        QCOMPARE(rig.dialogs.messages.back(), dm::Tr(dm::IDS_UNLOCK_1, dm::Language::English));
        QCOMPARE(rig.link.sent.size(), pushes + 1);
        QVERIFY(rig.link.sent.back().find("password = \"mervatun\"") != std::string::npos);
        rig.link.deliverParams(FileBytes(kParamsFile));
        rig.tick();
        QVERIFY(rig.findRow("g_ks_large") >= 0);
        QCOMPARE(rig.findRow("csWeigth"), -1);
        QCOMPARE(rig.w().settings().access, 1);
    }

    void savingEachTab() {
        Rig rig;
        rig.arriveWithParameters();
        rig.w().button(Action::GetDoseHistory)->click();
        rig.link.deliverArchive(FileBytes(kArchiveFile));
        rig.tick();
        QTemporaryDir dir;
        const std::string base = dir.path().toStdString();
        for (int tab = 0; tab < 3; ++tab) {
            rig.w().tabBar()->setCurrentIndex(tab);
            const std::string path = base + "/tab" + std::to_string(tab) + ".txt";
            rig.dialogs.saveNames = {path};
            FindAction(&rig.w(), "actionSave")->trigger();
            const std::string expected = tab == 0   ? rig.w().grid().fileBytes()
                                         : tab == 1 ? dm::DoseTableFileBytes(rig.w().doseTable())
                                                    : dm::NeutronTableFileBytes(rig.w().neutronTable());
            QVERIFY(!expected.empty());
            QCOMPARE(FileBytes(path), expected);
            QCOMPARE(rig.skipped.back(), "tab" + std::to_string(tab) + ".txt");
        }
        // CSV export of the neutron tab writes a file of a heading and one row per record.
        rig.w().tabBar()->setCurrentIndex(2);
        rig.dialogs.saveNames = {base + "/neutron.csv"};
        FindAction(&rig.w(), "actionExportCsv")->trigger();
        QCOMPARE(FileBytes(base + "/neutron.csv"),
                 dm::HistoryCsvBytes(rig.w().archive(), rig.w().neutronTable(), dm::HistoryTab::Neutron));
        QVERIFY(FileBytes(base + "/neutron.csv").starts_with("number,seconds,time,dose_sv,dose,coefficient\r\n"));
        // Cancel in the file dialog: nothing happens.
        const std::size_t skips = rig.skipped.size();
        FindAction(&rig.w(), "actionSave")->trigger();
        QCOMPARE(rig.skipped.size(), skips);
        // An existing file and No: left as it was, not added to the skip list.
        rig.dialogs.saveNames = {base + "/tab0.txt"};
        rig.dialogs.answers = {false};
        rig.w().tabBar()->setCurrentIndex(0);
        const std::string before = FileBytes(base + "/tab0.txt");
        FindAction(&rig.w(), "actionSave")->trigger();
        QCOMPARE(rig.dialogs.questions.back(), dm::Tr(dm::IDS_ASK_OVERWRITE, dm::Language::English));
        QCOMPARE(FileBytes(base + "/tab0.txt"), before);
        QCOMPARE(rig.skipped.size(), skips);
    }

    void eraseAskedFirst() {
        Rig rig;
        rig.arriveWithParameters();
        const std::size_t pushes = rig.link.sent.size();
        rig.dialogs.answers = {false};
        rig.w().button(Action::EraseTotalDose)->click();
        QCOMPARE(rig.dialogs.questions.back(), dm::Tr(dm::IDS_ASK_ERASE, dm::Language::English));
        QCOMPARE(rig.dialogs.noDefault, std::vector<std::string>{dm::Tr(dm::IDS_ASK_ERASE, dm::Language::English)});
        QCOMPARE(rig.link.sent.size(), pushes);
        QVERIFY(rig.actionsEnabled(true));
    }

    // On the real question box, Enter gives No for the erase and Yes for the others.
    void enterOnTheQuestionBox() {
        QWidget parent;
        QtUserDialogs dialogs(&parent);
        // Presses Enter on the box once it is up (the box opens inside the call below).
        std::function<void()> pressEnter = [&pressEnter] {
            if (QWidget* box = QApplication::activeModalWidget())
                QTest::keyClick(box, Qt::Key_Return);
            else
                QTimer::singleShot(10, pressEnter);
        };
        for (bool defaultNo : {true, false}) {
            QTimer::singleShot(0, pressEnter);
            const bool yes = defaultNo ? dialogs.askYesNoDefaultNo(dm::Tr(dm::IDS_ASK_ERASE, dm::Language::English))
                                       : dialogs.askYesNo(dm::Tr(dm::IDS_ASK_OVERWRITE, dm::Language::English));
            QCOMPARE(yes, !defaultNo);
        }
    }

    // A cell too narrow for its text shows it whole as a tool tip; one that fits shows none.
    // A column the user widened keeps its width when the cells change.
    void cutTextsGetAToolTip() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
        rig.arriveWithParameters();
        dm::ParameterTableView* view = rig.w().gridView();
        const int owner = rig.findRow("userinfo");
        const std::string longText(200, 'W');
        QVERIFY(rig.w().grid().setData(view->indexOfCell(owner, 1), QString::fromStdString(longText), Qt::EditRole));
        auto* delegate = qobject_cast<dm::CutTextTipDelegate*>(view->itemDelegate());
        QVERIFY(delegate);
        const QModelIndex cut = view->indexOfCell(owner, 1);
        QVERIFY(delegate->cutsText(view, cut));
        QVERIFY(!delegate->cutsText(view, view->indexOfCell(rig.findRow("battery_level"), 1)));
        view->scrollTo(cut);
        const QPoint at = view->visualRect(cut).center();
        QHelpEvent help(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(view->viewport(), &help);
        QCOMPARE(QToolTip::text().toStdString(), longText);

        QCOMPARE(view->horizontalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
        view->horizontalHeader()->resizeSection(0, 300);
        QVERIFY(rig.w().grid().setData(view->indexOfCell(owner, 1), QString("Ivanov"), Qt::EditRole));
        QCOMPARE(view->columnWidth(0), 300);
    }

    // Record numbers from 100 up and a long heading show whole in their narrow columns.
    void historyColumnsFitNumbersAndHeadings() {
        std::string reply;
        for (int r = 1; r <= 150; ++r)
            reply += "1.0E-07\t1.00\t " + std::to_string(60 * r) + "\r\r\n";
        const dm::DoseArchive archive = dm::ParseDoseArchive(reply, 60);
        const dm::HistoryTable table(archive, dm::HistoryTab::Neutron, dm::Language::English);
        dm::HistoryView view(table);
        view.resize(600, 300);
        view.refresh();
        auto* delegate = qobject_cast<dm::CutTextTipDelegate*>(view.itemDelegate());
        QVERIFY(delegate);
        const QModelIndex last = view.model()->index(149, 0);
        view.scrollTo(last);
        QVERIFY(!delegate->cutsText(&view, last));
        const QString heading = QString::fromStdString(dm::Tr(dm::IDS_SPECTRUM_COEFF, dm::Language::English));
        QVERIFY(view.columnWidth(3) > view.horizontalHeader()->fontMetrics().horizontalAdvance(heading));
    }

    // An empty table is not saved: a message, no file dialog, no file.
    void emptyTableIsNotSaved() {
        QTemporaryDir dir;
        Rig rig;
        const std::string path = dir.filePath("empty.txt").toStdString();
        rig.dialogs.saveNames = {path};
        FindAction(&rig.w(), "actionSave")->trigger();
        QCOMPARE(rig.dialogs.messages.back(), dm::Tr(dm::IDS_TABLE_EMPTY, dm::Language::English));
        QCOMPARE(rig.dialogs.saveNames.size(), std::size_t{1}); // never asked
        QVERIFY(!QFile::exists(QString::fromStdString(path)));
        QVERIFY(rig.skipped.empty());
    }

    void historyWithoutNeutronRecordsIsRefusedAndSaidSo() {
        Rig rig(dm::Language::Russian);
        rig.arriveWithParameters();
        std::string reply = FileBytes(kParamsFile);
        const std::string depth = "history_depth_neu = 3";
        reply.replace(reply.find(depth), depth.size(), "history_depth_neu = 0");
        rig.link.deliverParams(reply);
        rig.tick();
        const std::size_t pushes = rig.link.sent.size();
        rig.w().button(Action::GetDoseHistory)->click();
        QCOMPARE(rig.dialogs.messages.back(), dm::Tr(dm::IDS_NO_HISTORY_RECORDS, dm::Language::Russian));
        QCOMPARE(rig.link.sent.size(), pushes);
    }

    void passwordDialog() {
        // Layout, masked entry, and what OK, Cancel and Escape leave behind.
        {
            PasswordDialog dialog(nullptr, dm::Language::Russian);
            const dm::DialogUnits du(dialog.font());
            QCOMPARE(dialog.size(), du.size(190, 118));
            QCOMPARE(dialog.passwordEdit()->geometry(), du.rect(13, 79, 164, 13));
            QCOMPARE(dialog.passwordEdit()->echoMode(), QLineEdit::Password);
            QCOMPARE(dialog.findChild<QLabel*>("prompt")->text(),
                     QString::fromStdString(dm::Tr(dm::IDS_PASSWORD_PROMPT, dm::Language::Russian)));
            QCOMPARE(dialog.findChild<QPushButton*>("ok")->text().toStdString(), dm::Tr(dm::IDS_OK, dm::Language::Russian));
            QCOMPARE(dialog.findChild<QPushButton*>("cancel")->text().toStdString(), dm::Tr(dm::IDS_CANCEL, dm::Language::Russian));
            dialog.show();
            QTest::keyClicks(dialog.passwordEdit(), " 20947");
            dialog.findChild<QPushButton*>("ok")->click();
            QCOMPARE(dialog.enteredText(), std::string(" 20947")); // as typed, blanks too
        }
        {
            PasswordDialog dialog(nullptr, dm::Language::English);
            dialog.show();
            QTest::keyClicks(dialog.passwordEdit(), "20947");
            dialog.findChild<QPushButton*>("cancel")->click();
            QVERIFY(dialog.enteredText().empty());
        }
        {
            PasswordDialog dialog(nullptr, dm::Language::English);
            dialog.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            QTest::keyClicks(dialog.passwordEdit(), "20947");
            QTest::keyClick(dialog.passwordEdit(), Qt::Key_Escape);
            QVERIFY(!dialog.isVisible());
            QVERIFY(dialog.enteredText().empty());
        }
    }

    // What the status log tells over a session, in both languages: each request, the
    // dosimeter named when it first answers, what an erase did, an empty history, and a
    // departure that cuts a command short (at once, no "Connection interrupted." later).
    // The bar moves while a command waits.
    void statusLogTellsTheSession() {
        Rig rig;
        MainWindow& w = rig.w();
        int mark = 0;
        auto since = [&] {
            QStringList out;
            for (int i = rig.logCount() - mark - 1; i >= 0; --i)
                out << w.statusLog()->itemText(i).section(QStringLiteral("  "), 1);
            mark = rig.logCount();
            return out;
        };
        rig.arriveWithParameters();
        w.button(Action::EraseTotalDose)->click(); // the renewed parameters show the same total
        rig.link.deliverParams(FileBytes(kParamsFile));
        rig.tick();
        w.button(Action::GetDoseHistory)->click();
        const std::string mlv = FileBytes(kArchiveMlvFile);
        rig.link.deliverArchive(mlv.substr(0, mlv.find("1.5E-06"))); // headings, no record
        rig.tick();
        QCOMPARE(since(), QStringList({"Parameters requested, please wait.", "Parameters received",
                                       "Dosimeter in range: KRT-17A, serial number 17042.",
                                       QString::fromStdString(dm::Tr(dm::IDS_ERASE_SENT, dm::Language::English)), "Parameters received",
                                       "Total dose not erased: the dosimeter reports 4.25 mSv.",
                                       "Dose history requested, please wait.", "Archive received",
                                       "No history records."}));

        w.button(Action::GetDoseHistory)->click();
        rig.tick(2);
        QVERIFY(w.progressBar()->value() > 0 && w.progressBar()->value() < 100);
        since();
        rig.link.status = dm::kLinkNone;
        rig.link.statusQueue = {dm::kLinkGone};
        rig.tick(60); // well past the history's deadline
        QCOMPARE(since(), QStringList({"Dosimeter out of range before it answered: the command is cut short."}));
        QVERIFY(rig.actionsEnabled(false));
        QCOMPARE(w.progressBar()->value(), 0);

        // In Russian: back, erased, and gone while idle.
        w.switchLanguage(dm::Language::Russian);
        since();
        rig.arriveWithParameters();
        w.button(Action::EraseTotalDose)->click();
        std::string erased = FileBytes(kParamsFile);
        rig.link.deliverParams(erased.replace(erased.find("4.25E-03"), 8, "0"));
        rig.tick();
        dm::ParameterTableView* view = w.gridView();
        QVERIFY(view->editCell(rig.findRow("dose_threshold"), 1));
        auto* edit = qobject_cast<QLineEdit*>(view->indexWidget(view->indexOfCell(rig.findRow("dose_threshold"), 1)));
        edit->setText("3.0E-02");
        QTest::keyClick(edit, Qt::Key_Return); // an edit not sent when the dosimeter leaves
        QTRY_VERIFY(!view->isEditing());
        rig.link.statusQueue = {dm::kLinkGone};
        rig.tick();
        const QString received = QString::fromStdString(dm::Tr(dm::IDS_PARAMS_RECEIVED, dm::Language::Russian));
        QCOMPARE(since(), QStringList({QString::fromUtf8("Параметры запрошены, ждите."), received,
                                       QString::fromUtf8("Дозиметр в зоне связи: КРТ-17А, заводской номер 17042."),
                                       QString::fromStdString(dm::Tr(dm::IDS_ERASE_SENT, dm::Language::Russian)), received,
                                       QString::fromUtf8("Общая доза обнулена."),
                                       QString::fromUtf8("Дозиметр вне зоны связи."),
                                       QString::fromStdString(dm::Tr(dm::IDS_EDITS_KEPT, dm::Language::Russian))}));
    }

    void escapeNeverEndsTheProgram() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
        QTest::keyClick(rig.window->gridView(), Qt::Key_Escape);
        QTest::keyClick(rig.window.get(), Qt::Key_Escape);
        QVERIFY(rig.window->isVisible());
        QTest::keyClick(rig.window.get(), Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!rig.window->isVisible());
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
