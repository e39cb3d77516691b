#include "grid/parameter_table_model.h"
#include "qt/qt_text.h"

#include "core/string_table.h"

#include <QBrush>
#include <QColor>
#include <QStringList>

namespace dm {
namespace {


QStringList ToQStringList(const std::vector<std::string>& items) {
    QStringList out;
    for (const std::string& s : items)
        out << Q(s);
    return out;
}

QColor ToQColor(Rgb c) { return QColor(c.r, c.g, c.b); }

// Out of range: every colour halfway to a light grey, the text grey.
QColor Greyed(Rgb c) { return QColor((c.r + 220) / 2, (c.g + 220) / 2, (c.b + 220) / 2); }
const QColor kGreyText(120, 120, 120);

// Without anyone to ask, a question that guards an erase is answered No.
class NobodyToAsk : public UserDialogs {
public:
    void showMessage(const std::string&) override {}
    bool askYesNo(const std::string&) override { return false; }
    std::optional<std::string> askSaveFileName() override { return std::nullopt; }
    std::optional<std::string> askPassword() override { return std::nullopt; }
};

} // namespace

ParameterTableModel::ParameterTableModel(ParameterSet& set, QObject* parent)
    : QAbstractTableModel(parent), set_(set) {}

void ParameterTableModel::fill(std::string_view catalogue, Language language, int access,
                               ParameterTableState& state) {
    beginResetModel();
    language_ = language;
    rows_ = ParameterRows(set_, catalogue, language, access);
    UpdateTableState(set_, rows_, language, state);
    begun_ = QPersistentModelIndex();
    ++generation_;
    endResetModel();
    emit headerDataChanged(Qt::Horizontal, 0, 1);
}

void ParameterTableModel::clear(Language language) {
    beginResetModel();
    language_ = language;
    rows_.clear();
    begun_ = QPersistentModelIndex();
    ++generation_;
    endResetModel();
    emit headerDataChanged(Qt::Horizontal, 0, 1);
}

void ParameterTableModel::changedAll() {
    if (!rows_.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, 1));
}

void ParameterTableModel::setRefusedKeys(const std::set<std::string>& keys) {
    if (keys == refused_)
        return;
    refused_ = keys;
    changedAll();
}

void ParameterTableModel::setOutOfRange(bool out) {
    if (out == outOfRange_)
        return;
    outOfRange_ = out;
    changedAll();
    emit headerDataChanged(Qt::Horizontal, 0, 1);
}

int ParameterTableModel::rowOfKey(std::string_view key) const {
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (!rows_[i].key.empty() && rows_[i].key == key)
            return static_cast<int>(i);
    return -1;
}

RowPresentation ParameterTableModel::present(int row) const {
    const ParameterRow& r = rows_[static_cast<std::size_t>(row)];
    return PresentRow(set_, r, language_, !r.key.empty() && refused_.count(r.key) > 0);
}

std::string ParameterTableModel::text(int row, int column) const {
    if (row < 0 || row >= rowCount() || column < 0 || column > 1)
        return {};
    const RowPresentation shown = present(row);
    return column == kNameColumn ? shown.name.text : shown.value.text;
}

std::string ParameterTableModel::fileBytes() const {
    return ParameterTableFileBytes(set_, rows_, language_);
}

int ParameterTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ParameterTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant ParameterTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const RowPresentation shown = present(index.row());
    const CellPresentation& cell = index.column() == kNameColumn ? shown.name : shown.value;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return Q(cell.text);
    case Qt::BackgroundRole:
        return QBrush(outOfRange_ ? Greyed(cell.background) : ToQColor(cell.background));
    case Qt::ForegroundRole:
        return QBrush(outOfRange_ ? kGreyText : QColor(Qt::black));
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    case kCellOptionsRole:
        return cell.list ? ToQStringList(cell.options) : QVariant();
    case kSignalTypesRole:
        if (index.column() == kValueColumn && rows_[static_cast<std::size_t>(index.row())].type ==
                                                  ParameterRowType::Signal)
            return ToQStringList(shown.name.options);
        return {};
    default:
        return {};
    }
}

Qt::ItemFlags ParameterTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (outOfRange_ || index.row() >= rowCount())
        return f;
    const RowPresentation shown = present(index.row());
    // A name cell is edited only where it chooses something: the signal type.
    const bool editable = index.column() == kValueColumn ? !shown.value.readOnly : shown.name.list;
    return editable ? f | Qt::ItemIsEditable : f;
}

bool ParameterTableModel::beginEdit(const QModelIndex& index) {
    if (!(flags(index) & Qt::ItemIsEditable))
        return false;
    const ParameterRow& row = rows_[static_cast<std::size_t>(index.row())];
    const RowCell cell = index.column() == kNameColumn ? RowCell::Name : RowCell::Value;
    NobodyToAsk nobody;
    if (!BeginRowEdit(set_, row, cell, language_, dialogs_ ? *dialogs_ : nobody))
        return false;
    begun_ = index;
    return true;
}

bool ParameterTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.row() >= rowCount() || outOfRange_)
        return false;
    if (role != Qt::EditRole && role != kChooseSignalTypeRole)
        return false;
    const ParameterRow row = rows_[static_cast<std::size_t>(index.row())];
    RowCell cell = index.column() == kNameColumn ? RowCell::Name : RowCell::Value;
    if (role == kChooseSignalTypeRole) {
        if (row.type != ParameterRowType::Signal)
            return false;
        cell = RowCell::Name;
    } else if (QModelIndex(begun_) != index) {
        // The question may wait for the user while a reply refills the table: an edit
        // begun on rows that are gone is dropped.
        const std::uint64_t generation = generation_;
        if (!beginEdit(index) || generation != generation_)
            return false;
    }
    begun_ = QPersistentModelIndex();
    if (!EndRowEdit(set_, row, cell, value.toString().toStdString(), language_))
        return false;
    emit dataChanged(this->index(index.row(), 0), this->index(index.row(), 1));
    emit valueEdited(Q(row.key));
    return true;
}

QVariant ParameterTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole) {
        const TableHeadings h = ParameterTableHeadings(language_);
        if (section != kNameColumn)
            return Q(h.value);
        // The table of a dosimeter that left says so in its widest heading.
        return Q(outOfRange_ ? h.name + " (" + Tr(IDS_OUT_OF_RANGE_MARK, language_) + ")" : h.name);
    }
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignTop));
    if (role == Qt::BackgroundRole)
        return QBrush(ToQColor(kNameBackground));
    return {};
}

} // namespace dm
