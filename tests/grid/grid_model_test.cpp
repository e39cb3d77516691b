#include "grid/grid_model.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

// Three columns of widths 230, 0, 50 with one fixed row, as the parameter table has.
GridModel ThreeColumnGrid() {
    GridModel g;
    g.appendColumn("Name");
    g.appendColumn("Key");
    g.appendColumn("Value");
    g.setColumnWidth(0, 230);
    g.setColumnWidth(1, 0);
    g.setColumnWidth(2, 50);
    g.setFixedRowCount(1);
    return g;
}

TEST(GridLayout, AppendColumnCreatesTheHeadingRow) {
    GridModel g;
    EXPECT_EQ(g.appendColumn("A"), 0);
    EXPECT_EQ(g.rowCount(), 1);
    EXPECT_EQ(g.text(0, 0), "A");
    EXPECT_TRUE(g.isModified(0, 0)); // written like any cell
    EXPECT_EQ(g.appendColumn("C"), 1);
    EXPECT_EQ(g.appendColumn("B", 0, 1), 1); // inserted before "C"
    EXPECT_EQ(g.text(0, 2), "C");
    EXPECT_EQ(g.appendColumn("x", 0, 7), -1);
    EXPECT_EQ(g.colCount(), 3);
}

TEST(GridLayout, RowsAppendRemoveAndFixedRows) {
    GridModel g = ThreeColumnGrid();
    EXPECT_EQ(g.appendRow("r1"), 1);
    EXPECT_EQ(g.appendRow("r2"), 2);
    EXPECT_EQ(g.appendRow("r0", 1), 1);
    EXPECT_EQ(g.text(2, 0), "r1");
    EXPECT_TRUE(g.isModified(3, 0));
    g.removeRow(1);
    EXPECT_EQ(g.text(1, 0), "r1"); // rows below move up
    g.removeRow(9);                // outside: nothing
    EXPECT_EQ(g.rowCount(), 3);
    g.removeNonFixedRows();
    EXPECT_EQ(g.rowCount(), 1);
    EXPECT_EQ(g.text(0, 2), "Value");

    GridModel empty;
    empty.setFixedRowCount(2); // rows are added if fewer exist
    EXPECT_EQ(empty.rowCount(), 2);
    EXPECT_EQ(empty.appendRow("only"), 2); // a grid without columns gets one
    EXPECT_EQ(empty.colCount(), 1);

    g.removeAll();
    EXPECT_EQ(g.rowCount(), 0);
    EXPECT_EQ(g.colCount(), 0);
    EXPECT_EQ(g.fixedRowCount(), 0);
}

TEST(GridLayout, StretchKeepsHiddenColumnsHidden) {
    GridModel g = ThreeColumnGrid();
    g.stretchColumnsToFit(457);
    EXPECT_EQ(g.columnWidth(1), 0);
    // 177 extra pixels: 88 each, the odd one to the leftmost shown column.
    EXPECT_EQ(g.columnWidth(0), 230 + 89);
    EXPECT_EQ(g.columnWidth(2), 50 + 88);
    EXPECT_EQ(g.totalColumnWidth(), 457);

    g.stretchColumnsToFit(457); // already fitting: unchanged
    EXPECT_EQ(g.columnWidth(0), 319);

    g.stretchColumnsToFit(300);            // narrower: shrinks, never hides
    EXPECT_EQ(g.columnWidth(0), 319 - 79); // the odd pixel again from the left
    EXPECT_EQ(g.columnWidth(2), 138 - 78);
    EXPECT_EQ(g.columnWidth(1), 0);
    g.stretchColumnsToFit(-500);
    EXPECT_EQ(g.columnWidth(0), 1);
    EXPECT_EQ(g.columnWidth(1), 0);
    EXPECT_EQ(g.columnWidth(2), 1);
}

TEST(GridLayout, StretchCanLeaveFixedColumnsAlone) {
    GridModel g = ThreeColumnGrid();
    g.setFixedColumnCount(1);
    g.stretchColumnsToFit(380, false);
    EXPECT_EQ(g.columnWidth(0), 230);
    EXPECT_EQ(g.columnWidth(2), 150);
}

TEST(GridCells, OutsideTheGridNothingHappens) {
    GridModel g = ThreeColumnGrid();
    g.setText(5, 0, "x");
    g.setText(0, -1, "x");
    g.setState(1, 1, kReadOnly);
    g.setBackground(-1, 0, Rgb{1, 2, 3});
    g.setModified(true, 7, 1); // a cell outside: not the grid-wide flag
    EXPECT_EQ(g.text(5, 0), "");
    EXPECT_EQ(g.state(1, 1), 0u);
    EXPECT_FALSE(g.isModified(7, 1));
    EXPECT_EQ(g.options(3, 3).size(), 0u);
    EXPECT_EQ(g.kind(3, 3), CellKind::Text);
    EXPECT_EQ(g.columnWidth(3), 0);
}

TEST(GridCells, WritesMarkModifiedAndStateReplacesTheWord) {
    GridModel g = ThreeColumnGrid();
    g.appendRow("name");
    g.setModified(false); // clears the grid-wide flag and every cell's
    EXPECT_FALSE(g.isModified(1, 0));
    EXPECT_FALSE(g.isModified());

    g.setState(1, 2, kReadOnly);
    g.setText(1, 2, "v"); // read-only stops only the user's editing
    EXPECT_EQ(g.text(1, 2), "v");
    EXPECT_TRUE(g.isModified(1, 2));
    EXPECT_TRUE(g.isModified(-1, 0));

    g.setState(1, 2, kReadOnly); // replaces the whole word: no longer modified
    EXPECT_FALSE(g.isModified(1, 2));
    EXPECT_TRUE(g.isReadOnly(1, 2));

    g.setModified(false, 1, 2); // clearing a cell leaves the grid-wide flag
    EXPECT_TRUE(g.isModified());
    g.setModified(true, 1, 1);
    EXPECT_TRUE(g.isModified(1, 1));
}

TEST(GridCells, FixedBitsFollowThePosition) {
    GridModel g = ThreeColumnGrid();
    g.appendRow("r");
    EXPECT_EQ(g.state(0, 1) & (kFixed | kFixedRow), kFixed | kFixedRow);
    EXPECT_EQ(g.state(1, 1) & kFixed, 0u);
    g.setState(0, 1, 0);
    EXPECT_EQ(g.state(0, 1), kFixed | kFixedRow);
    g.setState(1, 1, kFixed | kSelected);
    EXPECT_EQ(g.state(1, 1), kSelected);
    EXPECT_FALSE(g.canEdit(0, 2));
    EXPECT_TRUE(g.canEdit(1, 2));
    g.setEditable(false);
    EXPECT_FALSE(g.canEdit(1, 2));
}

TEST(GridCells, BackgroundsAndKinds) {
    GridModel g = ThreeColumnGrid();
    g.appendRow("r");
    g.setFixedBackground(Rgb{204, 204, 204});
    g.setDefaultBackground(Rgb{255, 255, 243});
    EXPECT_EQ(g.background(0, 0), (Rgb{204, 204, 204}));
    EXPECT_EQ(g.background(1, 2), (Rgb{255, 255, 243}));
    g.setBackground(1, 2, Rgb{0, 0, 255});
    EXPECT_EQ(g.background(1, 2), (Rgb{0, 0, 255}));
    g.setBackground(1, 2, std::nullopt);
    EXPECT_EQ(g.background(1, 2), (Rgb{255, 255, 243}));

    g.setText(1, 2, "keep");
    g.setState(1, 2, kReadOnly | kModified);
    g.setBackground(1, 2, Rgb{1, 1, 1});
    g.setKind(1, 2, CellKind::List);
    g.setOptions(1, 2, {"a", "b"});
    g.setListStyle(1, 2, kDropDownListStyle);
    EXPECT_EQ(g.kind(1, 2), CellKind::List);
    EXPECT_EQ(g.text(1, 2), "keep");
    EXPECT_EQ(g.state(1, 2), kReadOnly | kModified);
    EXPECT_EQ(g.background(1, 2), (Rgb{1, 1, 1}));
    EXPECT_EQ(g.options(1, 2).size(), 2u);
    EXPECT_EQ(g.listStyle(1, 2), kDropDownListStyle);
}

TEST(GridCells, ObserverHearsEveryChange) {
    GridModel g;
    int calls = 0;
    g.setObserver([&] { ++calls; });
    const auto before = g.revision();
    g.appendColumn("A");
    g.setText(0, 0, "B");
    EXPECT_GT(calls, 1);
    EXPECT_GT(g.revision(), before);

    calls = 0;
    {
        const GridUpdateBatch outer(g);
        g.appendRow("r");
        {
            const GridUpdateBatch inner(g);
            g.setText(1, 0, "x");
        }
        EXPECT_EQ(calls, 0);
    }
    EXPECT_EQ(calls, 1); // once, at the end of the outermost batch
    { const GridUpdateBatch idle(g); }
    EXPECT_EQ(calls, 1);
    g.endUpdate(); // unmatched: ignored
    EXPECT_EQ(calls, 1);
}

} // namespace
} // namespace dm
