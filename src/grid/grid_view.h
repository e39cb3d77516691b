#pragma once
// A grid on screen, as the history tables use it: a table view over a GridModel. It reads
// and writes the cells only through the model. The model's fixed rows form the heading,
// columns of width 0 are hidden, cells are painted in their background colours, and a cell
// can be edited in place when the model allows it: a line editor for a text cell, a list of
// the options (and nothing else) for a drop-down cell.
//
// Editing: before an editor opens, the begin-edit handler runs synchronously and may
// change the cell; when it answers false no editor opens. Enter and Tab end an edit
// keeping the editor's text, Escape ends it with the text the editor started with, and
// losing the keyboard focus ends it keeping the text. The end-edit handler receives the
// editor's text; without one, a changed text is written into the cell.
#include "grid/cell_roles.h"
#include "grid/grid_model.h"

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTableView>

#include <functional>
#include <string>
#include <vector>

namespace dm {

class GridItemModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using EndEditHandler = std::function<void(int row, int col, const std::string& text)>;

    explicit GridItemModel(GridModel& grid, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void setEndEditHandler(EndEditHandler handler) { endEdit_ = std::move(handler); }

    // Grid row of a view row and back (the fixed rows are the heading).
    int gridRow(int viewRow) const { return viewRow + grid_.fixedRowCount(); }
    int viewRow(int gridRow) const { return gridRow - grid_.fixedRowCount(); }

    // Re-reads the grid: a changed shape resets the view, otherwise every cell is
    // repainted and open editors stay.
    void refresh();

    GridModel& grid() const { return grid_; }

private:
    GridModel& grid_;
    EndEditHandler endEdit_;
    int shownRows_ = 0;
    int shownCols_ = 0;
    int shownFixedRows_ = 0;
};

// Cells that cut their text show the whole of it as a tool tip; a text that fits gets none.
class CutTextTipDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Whether the cell's text is wider than the room the view gives it.
    bool cutsText(const QAbstractItemView* view, const QModelIndex& index) const;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
};

// Editors for a table's cells: a combo box offering only the options of a list cell
// (kCellOptionsRole), else a line editor; for the signal row's value a line editor with
// a drop-down of the signal types (kSignalTypesRole).
class GridCellDelegate : public CutTextTipDelegate {
    Q_OBJECT
public:
    using CutTextTipDelegate::CutTextTipDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;

protected:
    bool eventFilter(QObject* editor, QEvent* event) override;
};

class GridView : public QTableView {
    Q_OBJECT
public:
    // false: the edit is refused and no editor opens.
    using BeginEditHandler = std::function<bool(int row, int col)>;

    explicit GridView(GridModel& grid, QWidget* parent = nullptr);
    ~GridView() override;

    void setBeginEditHandler(BeginEditHandler handler) { beginEdit_ = std::move(handler); }
    void setEndEditHandler(GridItemModel::EndEditHandler handler);

    // Re-reads cells, column widths and switches from the grid now. Changes of the
    // grid are also picked up by themselves, from the event loop.
    void refresh();

    // The width the grid's columns are stretched to: the inside of the frame less room
    // for a vertical scroll bar, so a long table does not need a horizontal one.
    int clientWidth() const;

    // The view index of grid cell (row, col); invalid for a fixed or missing cell.
    QModelIndex indexOfCell(int row, int col) const;
    // Opens the editor of a grid cell as a user action would (begin-edit first).
    bool editCell(int row, int col);
    bool isEditing() const { return state() == QAbstractItemView::EditingState; }

    GridItemModel* gridModel() const { return model_; }

protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;

private:
    void scheduleRefresh();
    void applyLayout();

    GridModel& grid_;
    GridItemModel* model_;
    BeginEditHandler beginEdit_;
    bool refreshPending_ = false;
    // The grid's widths last put on screen: a width the user dragged stays until the
    // grid itself changes that column's width.
    std::vector<int> shownWidths_;
};

} // namespace dm
