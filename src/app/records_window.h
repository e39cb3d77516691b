#pragma once
// The records window: the dosimeters of the records database, the readouts and the total
// dose over time of the one selected, the wearers with this year's and five years' doses
// coloured against the limits, and buttons to add a wearer, hand a dosimeter out and
// back, export CSV and print a wearer's yearly dose record. The doses come from
// records/dose_of_record.h; this window only shows and forwards.
#include "app/dosimeter_reading.h"
#include "records/dose_of_record.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QLabel;
class QTableWidget;

namespace dm {

// What the records window asks the user; tests answer without a screen.
class RecordsDialogs {
public:
    struct NewWearer {
        std::string id, name, born; // born: YYYY-MM-DD or empty
    };
    virtual ~RecordsDialogs() = default;
    virtual std::optional<NewWearer> askNewWearer() = 0;
    // One of the wearers (ID, name); nothing on Cancel.
    virtual std::optional<std::string> askWearer(const std::vector<std::pair<std::string, std::string>>& wearers) = 0;
    // filter like "CSV file (*.csv)"; nothing on Cancel.
    virtual std::optional<std::string> askSaveFile(const std::string& suggested, const std::string& filter) = 0;
    virtual void showMessage(const std::string& text) = 0;
    virtual bool askYesNo(const std::string& text) = 0;
};

// The dialogs as the window shows them (input dialogs, the file dialog, message boxes).
std::unique_ptr<RecordsDialogs> MakeQtRecordsDialogs(QWidget* parent, int langBase);

class TotalDoseChart;

class RecordsWindow : public QDialog {
    Q_OBJECT
public:
    // now: the time a hand-out or hand-back is recorded with (the clock by default).
    // reading: lets a hand-out or hand-back read the dosimeter first when it is in range.
    RecordsWindow(records::RecordsRepository& repo, int langBase, RecordsDialogs& dialogs,
                  QWidget* parent = nullptr, std::function<records::UtcSeconds()> now = {},
                  DosimeterReading reading = {});

    void refresh();
    void addWearer();
    void handOut();
    void handBack();
    void exportTable(const std::string& table);
    void printReport();

private:
    std::string text(const std::string& en, const std::string& ru) const;
    std::optional<std::string> selectedSerial() const;
    std::optional<std::string> selectedWearer() const;
    void showReadouts();
    // Runs a request against the records; a refusal or failure is told, never thrown.
    bool attempt(const std::function<void()>& request);
    // Runs the hand-out or hand-back now, or, when the user wants the dosimeter read first,
    // once its readout has arrived (so that readout falls on the right side of the change).
    void afterOptionalRead(const std::string& serial, std::function<void()> change);

    records::RecordsRepository& repo_;
    records::DoseOfRecord records_;
    int langBase_;
    RecordsDialogs& dialogs_;
    std::function<records::UtcSeconds()> now_;
    DosimeterReading reading_;
    QLabel* database_ = nullptr;
    QTableWidget* dosimeters_ = nullptr;
    QTableWidget* readouts_ = nullptr;
    QTableWidget* wearers_ = nullptr;
    TotalDoseChart* chart_ = nullptr;
};

} // namespace dm
