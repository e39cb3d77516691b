#pragma once
// The records window: the dosimeters of the records database, the readouts and the total
// dose over time of the one selected, the wearers with this year's and five years' doses
// coloured against the limits, and buttons to add a wearer, hand a dosimeter out and
// back, export CSV and print a wearer's yearly dose record. The doses come from
// records/dose_of_record.h; this window only shows and forwards.
//
// The tables are item models over the records' own rows (records_models.h): a selected
// serial or wearer is read from those rows, never from a cell.
//
// Every read and write of the database runs on the records thread: the window never
// waits for a server, it shows what it has until the answer comes (or says, in the
// interface language, why none came). It is a window of its own, neither modal nor kept
// above the main window; it reads the records again when the recorder has stored
// something, when it is opened again, and after each change it makes.
#include "app/dosimeter_reading.h"
#include "app/records_models.h"
#include "core/language.h"
#include "records/dose_of_record.h"

#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QLabel;
class QTableView;

namespace dm {

namespace records {
class RecordsThread;
}

// What the records window asks the user; tests answer without a screen.
class RecordsDialogs {
public:
    struct NewWearer {
        std::string id, name, born; // born: YYYY-MM-DD or empty
    };
    virtual ~RecordsDialogs() = default;
    // The dialog filled with `typed` (empty the first time, what was typed when it comes
    // back after a refusal); nothing on Cancel.
    virtual std::optional<NewWearer> askNewWearer(const NewWearer& typed) = 0;
    // Whom to hand `dosimeter` ("KRT-17A 17-004217") out to: one of the wearers (ID,
    // name); nothing on Cancel.
    virtual std::optional<std::string> askWearer(const std::string& dosimeter,
                                                 const std::vector<std::pair<std::string, std::string>>& wearers) = 0;
    // filter like "CSV file (*.csv)"; nothing on Cancel.
    virtual std::optional<std::string> askSaveFile(const std::string& suggested, const std::string& filter) = 0;
    virtual void showMessage(const std::string& text) = 0;
    // A refusal or failure: the same box with the warning icon.
    virtual void showWarning(const std::string& text) { showMessage(text); }
    virtual bool askYesNo(const std::string& text) = 0;
};

// The dialogs as the window shows them (input dialogs, the file dialog, message boxes).
std::unique_ptr<RecordsDialogs> MakeQtRecordsDialogs(QWidget* parent, Language language);

class TotalDoseChart;

class RecordsWindow : public QWidget {
    Q_OBJECT
public:
    // dialogs: none for the real ones, over this window. now: the time a hand-out or
    // hand-back is recorded with (the clock by default). reading: lets a hand-out or
    // hand-back read the dosimeter first when it is in range, and tells of records stored.
    RecordsWindow(records::RecordsThread& db, Language language, RecordsDialogs* dialogs = nullptr,
                  std::function<records::UtcSeconds()> now = {}, DosimeterReading reading = {});
    ~RecordsWindow() override;

    Language language() const { return language_; }
    // Reads the records again; what is shown stays until they come.
    void refresh();
    // Asks for a new wearer, the dialog filled with `typed`; a refused one comes back
    // with what was typed.
    void addWearer(const RecordsDialogs::NewWearer& typed = {});
    void handOut();
    void handBack();
    void exportTable(const std::string& table);
    void printReport();
    // No answer from the database outstanding (tests wait for this).
    bool idle() const { return pending_ == 0; }

private:
    // What one look at the records shows.
    struct Overview {
        std::vector<records::DosimeterSummary> dosimeters;
        std::vector<records::Wearer> wearers;
        std::map<std::string, double> yearDoses, fiveYearDoses;
        records::DoseLimits limits;
        int year = 0;
    };

    std::optional<std::string> selectedSerial() const;
    std::optional<std::string> selectedWearer() const;
    void showOverview(Overview overview);
    void showReadouts();
    // "KRT-17A 17-004217" in the interface language.
    std::string dosimeterText(const std::string& serial) const;
    // Runs work(repository) on the records thread; done(result) then runs on this
    // window's thread while it exists. A failure is told (in a box when `tell`, always in
    // the window's status line), then `afterFailure` runs.
    template <typename Work, typename Done>
    void ask(Work work, Done done, bool tell = true, std::function<void()> afterFailure = {});
    void failed(const std::string& text, bool tell);
    // Runs the hand-out or hand-back now, or, when the user wants the dosimeter read first,
    // once its readout has arrived (so that readout falls on the right side of the change).
    void afterOptionalRead(const std::string& serial, std::function<void()> change);

    records::RecordsThread& db_;
    Language language_;
    std::unique_ptr<RecordsDialogs> ownDialogs_;
    RecordsDialogs& dialogs_;
    std::function<records::UtcSeconds()> now_;
    DosimeterReading reading_;
    int pending_ = 0;
    bool refreshing_ = false, refreshAgain_ = false;
    int readoutsAsked_ = 0; // only the answer to the latest selection is shown
    QLabel* database_ = nullptr;
    QLabel* status_ = nullptr;
    DosimeterTableModel* dosimeterRows_ = nullptr;
    ReadoutTableModel* readoutRows_ = nullptr;
    WearerTableModel* wearerRows_ = nullptr;
    QTableView* dosimeters_ = nullptr;
    QTableView* readouts_ = nullptr;
    QTableView* wearers_ = nullptr;
    TotalDoseChart* chart_ = nullptr;
};

} // namespace dm
