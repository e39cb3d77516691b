#include "history/history_table.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

TEST(HistoryTable, ResizingAndClearingKeepWhatTheyShould) {
    HistoryTable t;
    t.setRowCount(4);
    t.setColCount(3);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c)
            t.setText(r, c, std::to_string(r) + ":" + std::to_string(c));

    t.setRowCount(2); // drops the rows at the end only
    EXPECT_EQ(t.text(1, 2), "1:2");
    t.setRowCount(3);
    EXPECT_EQ(t.text(2, 0), ""); // a row added again starts empty

    t.setColCount(5); // every row keeps its cells in place
    EXPECT_EQ(t.text(1, 2), "1:2");
    t.setText(1, 4, "new");
    t.setColCount(2);
    EXPECT_EQ(t.text(1, 1), "1:1");
    t.setColCount(5);
    EXPECT_EQ(t.text(1, 4), ""); // cut-off columns do not come back with their texts

    t.setColWidth(0, 520);
    t.clear(); // empties every cell, keeps counts and widths
    EXPECT_EQ(t.rowCount(), 3);
    EXPECT_EQ(t.colCount(), 5);
    EXPECT_EQ(t.colWidth(0), 520);
    EXPECT_EQ(t.text(1, 1), "");

    // Outside the table: reads empty, writes nothing.
    t.setText(3, 0, "x");
    t.setText(0, 5, "x");
    t.setColWidth(5, 100);
    EXPECT_EQ(t.text(3, 0), "");
    EXPECT_EQ(t.text(0, 5), "");
    EXPECT_EQ(t.colWidth(5), 0);
}

} // namespace
} // namespace dm
