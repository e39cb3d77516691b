#include "app/history_view.h"

#include "grid/grid_view.h"
#include "qt/qt_text.h"

#include <QBrush>
#include <QColor>
#include <QHeaderView>
#include <QStyle>
#include <QStyleOptionHeader>

#include <algorithm>

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
        return Q(table_.text(index.row() + 1, index.column()));
    if (role == Qt::BackgroundRole && index.column() == 0)
        return QBrush(kFixedBackground);
    return {};
}

QVariant HistoryItemModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return Q(table_.text(0, section));
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

namespace {

// The width a header section needs to show its text whole, as the style draws it.
int HeadingWidth(const QHeaderView* header, const QString& text) {
    QStyleOptionHeader option;
    option.initFrom(header);
    option.text = text;
    option.fontMetrics = header->fontMetrics();
    const QSize content(header->fontMetrics().horizontalAdvance(text), header->fontMetrics().height());
    return header->style()->sizeFromContents(QStyle::CT_HeaderSection, &option, content, header).width();
}

} // namespace

int TwipsToPixels(int twips, int dpi) {
    if (twips <= 0 || dpi <= 0)
        return 0;
    return static_cast<int>((static_cast<long long>(twips) * dpi + 720) / 1440);
}

HistoryView::HistoryView(const HistoryTable& table, QWidget* parent)
    : QTableView(parent), table_(table), model_(new HistoryItemModel(table, this)) {
    setModel(model_);
    setItemDelegate(new CutTextTipDelegate(this));
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
    const int rows = model_->rowCount();
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    for (int c = 0; c < table_.colCount(); ++c) {
        const int px = TwipsToPixels(table_.colWidth(c), dpi);
        setColumnHidden(c, px == 0);
        if (px == 0)
            continue;
        // The widths were set for another font: a column is widened until its heading
        // and its record numbers (the last one is the longest) show whole.
        int needed = HeadingWidth(horizontalHeader(), model_->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString());
        if (c == 0 && rows > 0)
            needed = std::max(needed, itemDelegate()->sizeHint(option, model_->index(rows - 1, 0)).width() +
                                          (showGrid() ? 1 : 0)); // the grid line takes a pixel of the cell
        setColumnWidth(c, std::max(px, needed));
    }
}

} // namespace dm
