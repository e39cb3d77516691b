#include "history/history_table.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

HistoryTable Filled(int rows, int cols) {
    HistoryTable t;
    t.setRowCount(rows);
    t.setColCount(cols);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            t.setText(r, c, std::to_string(r) + ":" + std::to_string(c));
    return t;
}

TEST(HistoryTable, ResizingKeepsTheCellsThatRemain) {
    HistoryTable t = Filled(4, 3);
    t.setColWidth(1, 0); // hidden, still holds its text
    EXPECT_EQ(t.text(2, 1), "2:1");

    t.setRowCount(2);
    EXPECT_EQ(t.rowCount(), 2);
    EXPECT_EQ(t.text(1, 2), "1:2");
    EXPECT_EQ(t.text(2, 0), ""); // dropped
    t.setRowCount(3);
    EXPECT_EQ(t.text(2, 0), ""); // a row added again starts empty

    t.setColCount(5);
    EXPECT_EQ(t.text(1, 2), "1:2");
    EXPECT_EQ(t.text(1, 4), "");
    t.setText(1, 4, "new");
    t.setColCount(2);
    EXPECT_EQ(t.text(1, 1), "1:1");
    EXPECT_EQ(t.text(1, 2), "");
    t.setColCount(5);
    EXPECT_EQ(t.text(1, 4), ""); // columns cut off do not come back with their texts
}

TEST(HistoryTable, ClearEmptiesEveryCellAndKeepsTheCounts) {
    HistoryTable t = Filled(3, 2);
    t.setColWidth(0, 520);
    t.clear();
    EXPECT_EQ(t.rowCount(), 3);
    EXPECT_EQ(t.colCount(), 2);
    EXPECT_EQ(t.colWidth(0), 520);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 2; ++c)
            EXPECT_EQ(t.text(r, c), "");
}

TEST(HistoryTable, OutsideTheTableReadsEmptyAndWritesNothing) {
    HistoryTable t = Filled(2, 2);
    for (auto [r, c] : {std::pair{-1, 0}, {0, -1}, {2, 0}, {0, 2}}) {
        t.setText(r, c, "x");
        EXPECT_EQ(t.text(r, c), "");
    }
    t.setColWidth(2, 100);
    EXPECT_EQ(t.colWidth(2), 0);
    t.setRowCount(-5);
    t.setColCount(-1);
    EXPECT_EQ(t.rowCount(), 0);
    EXPECT_EQ(t.colCount(), 0);
    EXPECT_EQ(t.text(0, 0), "");
}

} // namespace
} // namespace dm
