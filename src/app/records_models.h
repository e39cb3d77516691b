#pragma once
// The records window's tables as item models over the rows the records give: the
// dosimeters, the readouts of one dosimeter, the wearers with their doses. The window
// reads a selected serial or wearer from these rows, never from what a cell shows.
//
// A dose column reads in one unit, chosen from its largest value and named in its
// heading; times read in the user's local time and format, with UTC in the tool tip.
#include "core/language.h"
#include "records/dose_of_record.h"
#include "records/records_repository.h"

#include <QAbstractTableModel>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace dm {

// One unit and one number of decimals for a whole column of doses.
struct DoseColumn {
    int unitId = 0;      // IDS_UNIT_SV, IDS_UNIT_MSV or IDS_UNIT_MKSV
    double perSv = 1.0;  // the unit's count per Sv
    int decimals = 3;

    // Chosen so the largest value reads with three or four significant digits; NaN,
    // infinite and missing values take no part.
    static DoseColumn For(const std::vector<std::optional<double>>& sv);
    // The number alone ("7.000"); "-" for none, "0" for zero, "< 0.01" for a dose that
    // would round to zero, the dose with its own unit for a value no dosimeter can hold
    // (NaN, infinite).
    std::string text(const std::optional<double>& sv, Language language) const;
    // "Total dose, mSv".
    std::string heading(const std::string& title, Language language) const;
};

// The time in the user's local time and format, and the UTC tool tip beside it.
QString LocalTimeText(records::UtcSeconds at);
QString UtcTimeTip(records::UtcSeconds at, Language language);
// A readout's flag ("after-erase", ...) as the interface language says it.
std::string ShownFlag(const std::string& flag, Language language);

// What every records table shares: its headings and the interface language.
class RecordsTableModel : public QAbstractTableModel {
public:
    explicit RecordsTableModel(Language language, QObject* parent = nullptr)
        : QAbstractTableModel(parent), language_(language) {}
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(headings_.size());
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

protected:
    Language language_;
    std::vector<QString> headings_;
};

class DosimeterTableModel : public RecordsTableModel {
public:
    enum Column { Serial, Model, LastReadout, Wearer, TotalDose, Columns };
    explicit DosimeterTableModel(Language language, QObject* parent = nullptr);
    void setRows(std::vector<records::DosimeterSummary> rows);
    const std::vector<records::DosimeterSummary>& rows() const { return rows_; }
    // The row of this serial; -1 when none.
    int rowOf(const std::string& serial) const;
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::vector<records::DosimeterSummary> rows_;
    DoseColumn total_;
};

class ReadoutTableModel : public RecordsTableModel {
public:
    enum Column { Time, TotalDose, Increment, Flags, Wearer, Columns };
    explicit ReadoutTableModel(Language language, QObject* parent = nullptr);
    void setRows(std::vector<records::ReadoutView> rows);
    const std::vector<records::ReadoutView>& rows() const { return rows_; }
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    std::vector<records::ReadoutView> rows_;
    DoseColumn total_, increment_;
};

class WearerTableModel : public RecordsTableModel {
public:
    enum Column { Id, Name, Dosimeters, YearDose, FiveYearDose, Columns };
    explicit WearerTableModel(Language language, QObject* parent = nullptr);
    // Doses by wearer ID (Sv) for the year and the five years up to it.
    void setRows(std::vector<records::Wearer> rows, const std::map<std::string, double>& yearDoses,
                 const std::map<std::string, double>& fiveYearDoses, const records::DoseLimits& limits, int year);
    const std::vector<records::Wearer>& rows() const { return rows_; }
    int rowOf(const std::string& id) const;
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    struct Doses {
        double year = 0.0, fiveYears = 0.0;
        std::vector<std::string> exceeded; // ExceededLimits' names
    };
    std::vector<records::Wearer> rows_;
    std::vector<Doses> doses_;
    DoseColumn year_, fiveYears_;
};

} // namespace dm
