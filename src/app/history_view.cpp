#include "app/history_view.h"

#include <QBrush>
#include <QColor>
#include <QHeaderView>

namespace dm {

namespace {
const QColor kFixedBackground(204, 204, 204);
}

HistoryItemModel::HistoryItemModel(const HistoryTable& table, QObject* parent)
    : QAbstractTableModel(parent), table_(table) {}

int HistoryItemModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return qMax(0, table_.rowCount() - 1); // row 0 is the heading
}

int HistoryItemModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : table_.colCount();
}

QVariant HistoryItemModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromStdString(table_.text(index.row() + 1, index.column()));
    if (role == Qt::BackgroundRole && index.column() == 0)
        return QBrush(kFixedBackground);
    return {};
}

QVariant HistoryItemModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return QString::fromStdString(table_.text(0, section));
    if (orientation == Qt::Horizontal && role == Qt::BackgroundRole)
        return QBrush(kFixedBackground);
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags HistoryItemModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void HistoryItemModel::refresh() {
    beginResetModel();
    endResetModel();
}

int TwipsToPixels(int twips, int dpi) {
    if (twips <= 0 || dpi <= 0)
        return 0;
    return static_cast<int>((static_cast<long long>(twips) * dpi + 720) / 1440);
}

HistoryView::HistoryView(const HistoryTable& table, QWidget* parent)
    : QTableView(parent), table_(table), model_(new HistoryItemModel(table, this)) {
    setModel(model_);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    verticalHeader()->hide();
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setStretchLastSection(false);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    QPalette headerPalette = horizontalHeader()->palette();
    headerPalette.setColor(QPalette::Button, kFixedBackground);
    horizontalHeader()->setPalette(headerPalette);
}

void HistoryView::refresh() {
    model_->refresh();
    const int dpi = logicalDpiX();
    for (int c = 0; c < table_.colCount(); ++c) {
        const int px = TwipsToPixels(table_.colWidth(c), dpi);
        setColumnHidden(c, px == 0);
        if (px > 0)
            setColumnWidth(c, px);
    }
}

} // namespace dm
