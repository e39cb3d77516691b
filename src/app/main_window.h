#pragma once
// The main window: tab strip, parameter grid, two history tables, the four action
// buttons, "Display as diagram", progress bar, status log and menu. It shows and
// forwards; what a tick does, what a parse puts in a table and which command lines go
// out is decided by the libraries below it.
#include "core/message_sink.h"
#include "core/settings_files.h"
#include "history/history_table.h"
#include "exchange/exchange_controller.h"
#include "grid/parameter_table_model.h"
#include "params/change_check.h"
#include "params/parameter_set.h"
#include "params/parameter_table.h"

#include "app/dosimeter_reading.h"
#include "app/status_log.h"
#include "app/link_menu.h"
#include "core/language.h"

#include <QDialog>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class QComboBox;
class QGroupBox;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QTabBar;
class QAction;
class QActionGroup;
class QKeyEvent;

namespace dm::records {
class StationRecorder;
} // namespace dm::records

namespace dm {
class ParameterTableView;
class HistoryView;
class MultiLineButton;
} // namespace dm

// What the window works with, handed in by whoever builds it (the application, or a test).
struct WindowServices {
    dm::UserDialogs* dialogs = nullptr;  // message boxes, file and password dialogs
    dm::ExchangeLink* link = nullptr;    // the program's one device link
    // Remembers a saved table's file name so the reply pickup never takes it for a reply.
    std::function<void(const std::string&)> addSkipFile;
    // Set only when a simulated dosimeter runs: brings it into range (true) or out.
    std::function<void(bool)> simulatorInRange;
    // The diagram window; the default opens the charts' window.
    std::function<void()> openDiagram;
    // The records window; the Records menu is shown only when set.
    std::function<void(dm::Language language, dm::DosimeterReading reading)> openRecords;
    std::filesystem::path catalogueFile; // empty: looked for where data files live
    bool runTimer = true;                // tests drive the ticks themselves
    // Keeps every readout, download, erase and change sent; none: nothing is recorded.
    dm::records::StationRecorder* recorder = nullptr;
    // The Link menu; shown only when set.
    LinkMenuServices linkMenu;
    // A line for the status log at start (how the link was chosen), or empty.
    std::string linkNote;
    // The link the window waits on for a dosimeter, said at once at start; empty: unsaid.
    std::string lookingOn;
};

// The window's action buttons.
enum class Action { SendChanges, GetDoseHistory, GetParameters, EraseTotalDose, DisplayAsDiagram };

class MainWindow : public QDialog, private dm::ControllerView {
    Q_OBJECT
public:
    MainWindow(const dm::InterfaceSettings& settings, WindowServices services, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The language and the protected-parameter mask now in force (written at the end).
    dm::InterfaceSettings settings() const { return {language_, access_}; }
    dm::Language language() const { return language_; }
    int access() const { return access_; }

    // ---- commands (menus and buttons)
    void getParameters();
    // The records window's view of the link (see DosimeterReading).
    dm::DosimeterReading dosimeterReading();
    void getDoseHistory();
    void sendChanges();
    void eraseTotalDose();
    void displayAsDiagram();
    void saveCurrentTable();
    void exportCurrentTableCsv();
    void passwordEntry();
    void switchLanguage(dm::Language language);
    void showAbout();

    // One timer tick of the exchange cycle.
    void onTimer();

    // Whether what is about to replace or drop the edits may go ahead: asks first while
    // changed values are unsent (Send sends them and stops it, Discard drops them).
    bool mayDropEdits() { return controller_->mayDropEdits(); }
    // The parameters marked refused or not accepted by the dosimeter.
    const std::set<std::string>& badValues() const { return controller_->badKeys(); }

    // ---- window operations
    void initialiseWindow();
    void addStatusMessage(const std::string& text);    // padded time
    void addRawStatusMessage(const std::string& text); // time without leading zeros, one line
    void selectTab(int index);

    // ---- state the tests look at
    dm::ParameterTableModel& grid() { return *grid_; }
    const dm::DoseArchive& archive() const { return controller_->archive(); }
    const dm::HistoryTable& doseTable() const { return *doseTable_; }
    const dm::HistoryTable& neutronTable() const { return *neutronTable_; }
    const dm::ParameterTableState& parameterState() const { return paramState_; }
    const dm::ParameterSet& parameters() const { return controller_->parameters(); }
    dm::ExchangeCycle& cycle() { return controller_->cycle(); }
    dm::ExchangeController& controller() { return *controller_; }
    dm::ParameterTableView* gridView() const { return gridView_; }
    QTabBar* tabBar() const { return tabs_; }
    QComboBox* statusLog() const { return statusLog_; }
    QProgressBar* progressBar() const { return progress_; }
    QPushButton* button(Action action) const;
    QMenu* simulatorMenu() const { return simulatorMenu_; }
    LinkMenu* linkMenu() const { return linkMenu_; }
    QMenuBar* menuBar() const { return menuBar_; }
    // The history table of tab 1 or 2 (built on first use).
    dm::HistoryView* historyView(int tab);

private:
    // ControllerView: what the controller decided, shown.
    void busy(bool busy) override;
    void progress(int percent) override { setProgressBar(percent); }
    void statusLine(const std::string& text) override { addStatusMessage(text); }
    void dosimeterLine(const std::string& text) override { addRawStatusMessage(text); }
    void parametersChanged() override { showParameters(); }
    void archiveChanged() override;
    void showParameterTab() override;
    void replyArrived() override;
    void commitOpenEdit() override;

    void disableActions();
    void enableActions();
    void setProgressBar(int position);
    void hideDiagramButton();
    void dropHistoryTabs();

    void done(int result) override;
    // Paints edited value cells and those refused or not taken; greys a table out of range.
    void markCells();
    void keyPressEvent(QKeyEvent* event) override;

    void buildControls();
    void buildMenu();
    void setTexts();
    // Tabs 1 and 2 as the archive fills them, in the current language.
    void setHistoryTabs();
    void setMenuTexts();
    // Places the controls for the window's present size: the tables take the room beyond
    // the smallest size, the buttons keep to the right edge, the log to the bottom.
    void placeControls();
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool currentTableEmpty() const;
    void onTabChanged(int index);
    // Shows and enables the table of tab 0, 1 or 2, hides and disables the others.
    void showTable(int tab);
    // Runs the quick look for replies while a command waits, and only then.
    void followWaiting();
    // Fills the grid from the parameter set in the current language.
    void showParameters();
    std::string currentTableBytes() const;

    dm::Language language_;
    int access_;
    WindowServices services_;
    std::unique_ptr<dm::UserDialogs> ownDialogs_;

    dm::ParameterTableModel* grid_ = nullptr;
    std::unique_ptr<dm::ExchangeController> controller_;
    std::unique_ptr<dm::HistoryTable> doseTable_;
    std::unique_ptr<dm::HistoryTable> neutronTable_;
    dm::ParameterTableState paramState_;
    QTimer timer_;
    QTimer replyLook_;

    QMenuBar* menuBar_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QMenu* optionsMenu_ = nullptr;
    QMenu* languageMenu_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    QMenu* simulatorMenu_ = nullptr;
    LinkMenu* linkMenu_ = nullptr;
    QAction* saveAction_ = nullptr;
    QAction* exportCsvAction_ = nullptr;
    QAction* exitAction_ = nullptr;
    QAction* englishAction_ = nullptr;
    QAction* russianAction_ = nullptr;
    QAction* passwordAction_ = nullptr;
    QAction* simInAction_ = nullptr;
    QAction* simOutAction_ = nullptr;
    QAction* aboutAction_ = nullptr;
    QGroupBox* frames_[3] = {};
    QWidget* client_ = nullptr;
    QTabBar* tabs_ = nullptr;
    dm::ParameterTableView* gridView_ = nullptr;
    dm::HistoryView* doseView_ = nullptr;
    dm::HistoryView* neutronView_ = nullptr;
    QPushButton* diagramButton_ = nullptr;
    dm::MultiLineButton* getParamsButton_ = nullptr;
    dm::MultiLineButton* getHistoryButton_ = nullptr;
    dm::MultiLineButton* sendChangesButton_ = nullptr;
    dm::MultiLineButton* eraseButton_ = nullptr;
    QProgressBar* progress_ = nullptr;
    dm::StatusLog* statusLog_ = nullptr;

    // Runs when the recorder has stored something new (the records window refreshes).
    std::function<void()> recordsStored_;
};
