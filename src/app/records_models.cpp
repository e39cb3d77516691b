#include "app/records_models.h"
#include "qt/qt_text.h"

#include "core/format.h"
#include "core/numbers.h"
#include "core/string_table.h"
#include "records/utc_time.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <functional>

namespace dm {
namespace {


std::string Joined(const std::vector<std::string>& parts, const std::function<std::string(const std::string&)>& shown) {
    std::string out;
    for (const std::string& p : parts)
        out += (out.empty() ? "" : ", ") + shown(p);
    return out;
}

QVariant RightAligned() { return QVariant::fromValue(int(Qt::AlignRight | Qt::AlignVCenter)); }

} // namespace

DoseColumn DoseColumn::For(const std::vector<std::optional<double>>& sv) {
    double largest = 0.0;
    for (const auto& v : sv)
        if (v && std::isfinite(*v))
            largest = std::max(largest, std::fabs(*v));
    DoseColumn c;
    if (largest >= 1.0)
        c = {IDS_UNIT_SV, 1.0, 3};
    else if (largest >= 1e-3)
        c = {IDS_UNIT_MSV, 1e3, 3};
    else
        c = {IDS_UNIT_MKSV, 1e6, 3};
    const double top = largest * c.perSv;
    if (top >= 100.0)
        c.decimals = 1;
    else if (top >= 10.0)
        c.decimals = 2;
    else if (top > 0.0 && top < 1.0) // tiny doses: three significant digits of the largest
        c.decimals = std::min(12, 2 - static_cast<int>(std::floor(std::log10(top))));
    return c;
}

std::string DoseColumn::text(const std::optional<double>& sv, Language language) const {
    if (!sv)
        return "-";
    if (!std::isfinite(*sv))
        return FormatDose(*sv, language);
    if (*sv == 0.0)
        return "0";
    // A dose under the column's last digit beside a large one: said as such, not as 0.
    const double step = std::pow(10.0, -decimals);
    if (std::fabs(*sv * perSv) < step / 2)
        return (*sv < 0 ? "> -" : "< ") + CNumberText(step, 'f', decimals);
    return CNumberText(*sv * perSv, 'f', decimals);
}

std::string DoseColumn::heading(const std::string& title, Language language) const {
    return FillIn(Tr(IDS_RW_IN_UNIT, language), {title, Tr(unitId, language)});
}

QString LocalTimeText(records::UtcSeconds at) {
    return QLocale().toString(QDateTime::fromSecsSinceEpoch(at), QLocale::ShortFormat);
}

QString UtcTimeTip(records::UtcSeconds at, Language language) {
    return Q(FillIn(Tr(IDS_RW_UTC_TIP, language), {records::FormatUtcTime(at)}));
}

std::string ShownFlag(const std::string& flag, Language language) {
    static const std::pair<const char*, int> known[] = {
        {"invalid-dose", IDS_RW_FLAG_INVALID_DOSE}, {"no-dose", IDS_RW_FLAG_NO_DOSE},
        {"baseline", IDS_RW_FLAG_BASELINE},         {"after-erase", IDS_RW_FLAG_AFTER_ERASE},
        {"reset", IDS_RW_FLAG_RESET},
    };
    for (const auto& [name, id] : known)
        if (flag == name)
            return Tr(id, language);
    return flag;
}

QVariant RecordsTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= static_cast<int>(headings_.size()))
        return {};
    return headings_[static_cast<std::size_t>(section)];
}

// ------------------------------------------------------------------ dosimeters

DosimeterTableModel::DosimeterTableModel(Language language, QObject* parent) : RecordsTableModel(language, parent) {
    setRows({});
}

void DosimeterTableModel::setRows(std::vector<records::DosimeterSummary> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    std::vector<std::optional<double>> totals;
    for (const auto& d : rows_)
        totals.push_back(d.totalDose);
    total_ = DoseColumn::For(totals);
    headings_ = {Q(Tr(IDS_RW_SERIAL, language_)), Q(Tr(IDS_RW_MODEL, language_)),
                 Q(Tr(IDS_RW_LAST_READOUT, language_)), Q(Tr(IDS_RW_WEARER, language_)),
                 Q(total_.heading(Tr(IDS_RW_TOTAL_DOSE, language_), language_))};
    endResetModel();
}

int DosimeterTableModel::rowOf(const std::string& serial) const {
    for (std::size_t r = 0; r < rows_.size(); ++r)
        if (rows_[r].serial == serial)
            return static_cast<int>(r);
    return -1;
}

int DosimeterTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant DosimeterTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const records::DosimeterSummary& d = rows_[static_cast<std::size_t>(index.row())];
    if (role == Qt::TextAlignmentRole && index.column() == TotalDose)
        return RightAligned();
    if (role == Qt::ToolTipRole && index.column() == LastReadout && d.lastSeen)
        return UtcTimeTip(*d.lastSeen, language_);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case Serial: return Q(d.serial);
    case Model: return Q(d.model ? ShownModelName(*d.model, language_) : "-");
    case LastReadout: return d.lastSeen ? LocalTimeText(*d.lastSeen) : QStringLiteral("-");
    case Wearer: return Q(d.wearer.value_or("-"));
    case TotalDose: return Q(total_.text(d.totalDose, language_));
    default: return {};
    }
}

// ------------------------------------------------------------------ readouts

ReadoutTableModel::ReadoutTableModel(Language language, QObject* parent) : RecordsTableModel(language, parent) {
    setRows({});
}

void ReadoutTableModel::setRows(std::vector<records::ReadoutView> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    std::vector<std::optional<double>> totals, increments;
    for (const auto& r : rows_) {
        totals.push_back(r.totalDose);
        increments.push_back(r.accounted.increment);
    }
    total_ = DoseColumn::For(totals);
    increment_ = DoseColumn::For(increments);
    headings_ = {Q(Tr(IDS_RW_TIME, language_)), Q(total_.heading(Tr(IDS_RW_TOTAL_DOSE, language_), language_)),
                 Q(increment_.heading(Tr(IDS_RW_INCREMENT, language_), language_)), Q(Tr(IDS_RW_FLAGS, language_)),
                 Q(Tr(IDS_RW_WEARER, language_))};
    endResetModel();
}

int ReadoutTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant ReadoutTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const records::ReadoutView& r = rows_[static_cast<std::size_t>(index.row())];
    if (role == Qt::TextAlignmentRole && (index.column() == TotalDose || index.column() == Increment))
        return RightAligned();
    if (role == Qt::ToolTipRole && index.column() == Time)
        return UtcTimeTip(r.at, language_);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case Time: return LocalTimeText(r.at);
    case TotalDose: return Q(total_.text(r.totalDose, language_));
    case Increment: return Q(increment_.text(r.accounted.increment, language_));
    case Flags:
        return Q(Joined(r.accounted.flags, [this](const std::string& f) { return ShownFlag(f, language_); }));
    case Wearer: return Q(r.wearer.value_or("-"));
    default: return {};
    }
}

// ------------------------------------------------------------------ wearers

WearerTableModel::WearerTableModel(Language language, QObject* parent) : RecordsTableModel(language, parent) {
    setRows({}, {}, {}, {}, records::YearOf(records::UtcNow()));
}

void WearerTableModel::setRows(std::vector<records::Wearer> rows, const std::map<std::string, double>& yearDoses,
                               const std::map<std::string, double>& fiveYearDoses, const records::DoseLimits& limits,
                               int year) {
    beginResetModel();
    rows_ = std::move(rows);
    doses_.clear();
    std::vector<std::optional<double>> years, fives;
    auto doseOf = [](const std::map<std::string, double>& doses, const std::string& id) {
        const auto found = doses.find(id);
        return found == doses.end() ? 0.0 : found->second;
    };
    for (const records::Wearer& w : rows_) {
        Doses d;
        d.year = doseOf(yearDoses, w.id);
        d.fiveYears = doseOf(fiveYearDoses, w.id);
        d.exceeded = records::ExceededLimits(d.year, d.fiveYears, limits);
        years.push_back(d.year);
        fives.push_back(d.fiveYears);
        doses_.push_back(std::move(d));
    }
    year_ = DoseColumn::For(years);
    fiveYears_ = DoseColumn::For(fives);
    headings_ = {Q(Tr(IDS_RW_ID, language_)), Q(Tr(IDS_RW_NAME, language_)), Q(Tr(IDS_RW_DOSIMETERS, language_)),
                 Q(year_.heading(FillIn(Tr(IDS_RW_DOSE_YEAR, language_), {std::to_string(year)}), language_)),
                 Q(fiveYears_.heading(FillIn(Tr(IDS_RW_DOSE_YEARS, language_),
                                             {std::to_string(year - 4), std::to_string(year)}),
                                      language_))};
    endResetModel();
}

int WearerTableModel::rowOf(const std::string& id) const {
    for (std::size_t r = 0; r < rows_.size(); ++r)
        if (rows_[r].id == id)
            return static_cast<int>(r);
    return -1;
}

int WearerTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant WearerTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const records::Wearer& w = rows_[static_cast<std::size_t>(index.row())];
    const Doses& d = doses_[static_cast<std::size_t>(index.row())];
    const bool doseColumn = index.column() == YearDose || index.column() == FiveYearDose;
    if (role == Qt::TextAlignmentRole && doseColumn)
        return RightAligned();
    if (role == Qt::BackgroundRole && doseColumn) {
        // Red: a dose limit reached; amber: the investigation level.
        auto reached = [&](const char* name) {
            return std::find(d.exceeded.begin(), d.exceeded.end(), name) != d.exceeded.end();
        };
        if (index.column() == FiveYearDose)
            return reached("five_year") ? QVariant(QBrush(QColor(255, 160, 160))) : QVariant();
        if (reached("annual") || reached("single_year"))
            return QBrush(QColor(255, 160, 160));
        if (reached("investigation"))
            return QBrush(QColor(255, 220, 130));
        return {};
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case Id: return Q(w.id);
    case Name: return Q(w.name);
    case Dosimeters: return Q(Joined(w.dosimeters, [](const std::string& s) { return s; }));
    case YearDose: return Q(year_.text(d.year, language_));
    case FiveYearDose: return Q(fiveYears_.text(d.fiveYears, language_));
    default: return {};
    }
}

} // namespace dm
