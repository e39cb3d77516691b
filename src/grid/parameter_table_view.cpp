#include "grid/parameter_table_view.h"

#include "grid/grid_view.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>

#include <algorithm>

namespace dm {

ParameterTableView::ParameterTableView(ParameterTableModel* model, QWidget* parent)
    : QTableView(parent), model_(model) {
    setModel(model_);
    setItemDelegate(new GridCellDelegate(this));
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setWordWrap(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setMinimumSectionSize(0);
    // Long names and values can be widened to be read whole; the value column takes
    // what a wider window gives the table.
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setStretchLastSection(true);
    // The heading is drawn like the name cells; styles paint header sections in the
    // palette's button colour.
    QPalette headerPalette = horizontalHeader()->palette();
    headerPalette.setColor(QPalette::Button, QColor(kNameBackground.r, kNameBackground.g, kNameBackground.b));
    horizontalHeader()->setPalette(headerPalette);
    // A refill gives the header its default section sizes again.
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { fitColumns(clientWidth()); });
    fitColumns(clientWidth());
}

int ParameterTableView::clientWidth() const {
    return std::max(0, width() - 2 * frameWidth() - verticalScrollBar()->sizeHint().width());
}

void ParameterTableView::fitColumns(int client) {
    const int difference = client - (kNameColumnWidth + kValueColumnWidth);
    const int each = difference / 2;
    const int odd = difference - 2 * each; // -1, 0 or 1: the name column takes it
    setColumnWidth(ParameterTableModel::kNameColumn, std::max(1, kNameColumnWidth + each + odd));
    setColumnWidth(ParameterTableModel::kValueColumn, std::max(1, kValueColumnWidth + each));
}

QModelIndex ParameterTableView::indexOfCell(int row, int column) const {
    return model_->index(row, column);
}

bool ParameterTableView::editCell(int row, int column) {
    const QModelIndex index = indexOfCell(row, column);
    if (!index.isValid())
        return false;
    setCurrentIndex(index);
    return edit(index, QAbstractItemView::EditKeyPressed, nullptr);
}

bool ParameterTableView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    // Decide first, as the base class would, whether this action opens an editor, so that
    // the edit begins (and its question is asked) exactly for the editors that open.
    if (!index.isValid() || state() == QAbstractItemView::EditingState || indexWidget(index) != nullptr)
        return QTableView::edit(index, trigger, event);
    const bool triggered = trigger == QAbstractItemView::AllEditTriggers || (trigger & editTriggers());
    if (!triggered || !(model_->flags(index) & Qt::ItemIsEditable))
        return QTableView::edit(index, trigger, event);
    if (trigger == QAbstractItemView::AnyKeyPressed) {
        auto* key = event && event->type() == QEvent::KeyPress ? static_cast<QKeyEvent*>(event) : nullptr;
        if (!key || key->text().isEmpty() || !key->text().at(0).isPrint())
            return QTableView::edit(index, trigger, event);
    }
    const int row = index.row();
    const int column = index.column();
    const std::uint64_t generation = model_->generation();
    if (!model_->beginEdit(index))
        return false; // refused: no editor opens
    // The question may have waited for the user while a reply refilled the table: the
    // cell asked about is gone, so no editor opens.
    if (model_->generation() != generation)
        return false;
    const QModelIndex fresh = model_->index(row, column);
    return QTableView::edit(fresh, trigger == QAbstractItemView::AnyKeyPressed ? trigger
                                                                              : QAbstractItemView::AllEditTriggers,
                            event);
}

} // namespace dm
