#pragma once
// The two read-only history tables on tabs 1 and 2: a table view over a HistoryTable.
// Row 0 of the table is the heading row, column 0 the record numbers (both drawn like
// fixed cells); columns of width 0 stay hidden but keep their texts.
#include "history/history_table.h"

#include <QAbstractTableModel>
#include <QTableView>

namespace dm {

class HistoryItemModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit HistoryItemModel(const HistoryTable& table, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Re-reads the table after it was changed.
    void refresh();

private:
    const HistoryTable& table_;
};

// Twips (1/1440 inch) to pixels at the given logical DPI.
int TwipsToPixels(int twips, int dpi);

class HistoryView : public QTableView {
    Q_OBJECT
public:
    HistoryView(const HistoryTable& table, QWidget* parent = nullptr);

    // Re-reads the table and its column widths.
    void refresh();
    HistoryItemModel* historyModel() const { return model_; }

private:
    const HistoryTable& table_;
    HistoryItemModel* model_;
};

} // namespace dm
