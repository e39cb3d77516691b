#pragma once
// The parameter table on screen: a table view over a ParameterTableModel with the look the
// table has always had (grey heading and names, value colours, a name column and a value
// column sharing the width) and in-place editing: a line editor, a drop-down for the
// switches and the signal type, the history-interval question before an editor opens.
//
// Enter and Tab end an edit keeping the editor's text, Escape ends it with the text the
// editor started with, and losing the keyboard focus ends it keeping the text.
#include "grid/parameter_table_model.h"

#include <QTableView>

namespace dm {

class ParameterTableView : public QTableView {
    Q_OBJECT
public:
    explicit ParameterTableView(ParameterTableModel* model, QWidget* parent = nullptr);

    ParameterTableModel* tableModel() const { return model_; }

    // The width the columns share: the inside of the frame less room for a vertical
    // scroll bar, so a long table does not need a horizontal one.
    int clientWidth() const;
    // The name and value columns from their starting widths, sharing what clientWidth
    // adds (or takes) equally, the odd pixel to the name; never narrower than a pixel.
    void fitColumns(int clientWidth);

    // The index of a cell; invalid outside the table.
    QModelIndex indexOfCell(int row, int column) const;
    // Opens the editor of a cell as a user action would (the edit begins first).
    bool editCell(int row, int column);
    bool isEditing() const { return state() == QAbstractItemView::EditingState; }

protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;

private:
    ParameterTableModel* model_;
};

} // namespace dm
