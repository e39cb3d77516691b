// The grid view on screen: what the user can edit and how an edit ends.
#include "grid/grid_model.h"
#include "grid/grid_view.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>

using dm::GridModel;
using dm::GridView;

namespace {

// Three columns like the parameter table: name, hidden key, value; one heading row.
void FillTable(GridModel& g) {
    g.removeAll();
    g.appendColumn("Parameter name");
    g.appendColumn("Command");
    g.appendColumn("Parameter value");
    g.setFixedRowCount(1);
    g.setColumnWidth(0, 150);
    g.setColumnWidth(1, 0);
    g.setColumnWidth(2, 100);
    auto row = [&](const char* name, const char* key, const char* value, bool readOnly) {
        const int r = g.appendRow(name);
        g.setText(r, 1, key);
        g.setText(r, 2, value);
        if (readOnly)
            g.setState(r, 2, dm::kReadOnly);
        g.setState(r, 0, dm::kReadOnly);
        g.setModified(false, r, 0);
        g.setModified(false, r, 1);
        g.setModified(false, r, 2);
        return r;
    };
    row("Serial number", "serial_number", "17042", true);    // 1
    row("Dose threshold", "dose_threshold", "0.02", false);  // 2
    row("History interval", "history_time", "60", false);    // 3
    const int sw = row("Beep when turning-off", "cfg_final_sound", "enable", false); // 4
    g.setKind(sw, 2, dm::CellKind::List);
    g.setOptions(sw, 2, {"enable", "disable"});
    g.setListStyle(sw, 2, dm::kDropDownListStyle);
    g.setBackground(2, 2, dm::Rgb{214, 245, 214});
}

struct Fixture {
    GridModel grid;
    QWidget window;
    GridView* view;
    QPushButton* other; // somewhere else for the focus to go
    Fixture() {
        FillTable(grid);
        auto* layout = new QVBoxLayout(&window);
        view = new GridView(grid, &window);
        other = new QPushButton("elsewhere", &window);
        layout->addWidget(view);
        layout->addWidget(other);
        window.resize(400, 300);
        window.show();
        view->refresh();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();
        view->setFocus();
    }
    QLineEdit* lineEditor() const { return qobject_cast<QLineEdit*>(QApplication::focusWidget()); }
};

} // namespace

class GridViewTest : public QObject {
    Q_OBJECT
private slots:
    void showsCellsHeadingColoursAndHiddenColumn() {
        Fixture f;
        QCOMPARE(f.view->model()->rowCount(), 4);
        QCOMPARE(f.view->model()->headerData(0, Qt::Horizontal).toString(), QString("Parameter name"));
        QVERIFY(f.view->isColumnHidden(1));
        QVERIFY(!f.view->isColumnHidden(2));
        QCOMPARE(f.view->columnWidth(0), 150);
        const QModelIndex value = f.view->indexOfCell(2, 2);
        QCOMPARE(value.data().toString(), QString("0.02"));
        QCOMPARE(value.data(Qt::BackgroundRole).value<QBrush>().color(), QColor(214, 245, 214));
        // The key column keeps its text although it is not shown.
        QCOMPARE(f.view->indexOfCell(2, 1).data().toString(), QString("dose_threshold"));
        // A change of the grid reaches the view from the event loop.
        f.grid.setText(2, 2, "0.05");
        QTRY_COMPARE(f.view->indexOfCell(2, 2).data().toString(), QString("0.05"));
        f.grid.removeRow(4);
        QTRY_COMPARE(f.view->model()->rowCount(), 3);
    }

    void enterKeepsTheTypedTextAndMarksTheCell() {
        Fixture f;
        QVERIFY(f.view->editCell(2, 2));
        QLineEdit* edit = f.lineEditor();
        QVERIFY(edit);
        QCOMPARE(edit->text(), QString("0.02"));
        edit->setText("0.03");
        QTest::keyClick(edit, Qt::Key_Return);
        QTRY_VERIFY(!f.view->isEditing());
        QCOMPARE(f.grid.text(2, 2), std::string("0.03"));
        QVERIFY(f.grid.isModified(2, 2));
    }

    void tabEndsTheEditWithoutOpeningTheNextCell() {
        Fixture f;
        int begins = 0;
        f.view->setBeginEditHandler([&](int, int) { ++begins; return true; });
        QVERIFY(f.view->editCell(2, 2));
        QLineEdit* edit = f.lineEditor();
        QVERIFY(edit);
        edit->setText("7");
        QTest::keyClick(edit, Qt::Key_Tab);
        QTRY_VERIFY(!f.view->isEditing());
        QCOMPARE(f.grid.text(2, 2), std::string("7"));
        QCOMPARE(begins, 1);
        QVERIFY(!f.grid.isModified(3, 2));
    }

    void escapePutsBackTheStartingText() {
        Fixture f;
        QVERIFY(f.view->editCell(2, 2));
        QLineEdit* edit = f.lineEditor();
        QVERIFY(edit);
        edit->setText("999");
        QTest::keyClick(edit, Qt::Key_Escape);
        QTRY_VERIFY(!f.view->isEditing());
        QCOMPARE(f.grid.text(2, 2), std::string("0.02"));
        QVERIFY(!f.grid.isModified(2, 2));
        QVERIFY(f.window.isVisible()); // the Escape went to the editor only
    }

    void losingTheFocusKeepsTheText() {
        Fixture f;
        QVERIFY(f.view->editCell(2, 2));
        QLineEdit* edit = f.lineEditor();
        QVERIFY(edit);
        edit->setText("0.04");
        f.other->setFocus(Qt::OtherFocusReason);
        QTRY_VERIFY(!f.view->isEditing());
        QCOMPARE(f.grid.text(2, 2), std::string("0.04"));
    }

    void unchangedTextIsNotWrittenAgain() {
        Fixture f;
        QVERIFY(f.view->editCell(2, 2));
        QVERIFY(f.lineEditor());
        QTest::keyClick(f.lineEditor(), Qt::Key_Return);
        QTRY_VERIFY(!f.view->isEditing());
        QVERIFY(!f.grid.isModified(2, 2));
    }

    void readOnlyAndFixedCellsNeverStartAnEdit() {
        Fixture f;
        int begins = 0;
        f.view->setBeginEditHandler([&](int, int) { ++begins; return true; });
        QVERIFY(!f.view->editCell(1, 2)); // read-only value
        QVERIFY(!f.view->editCell(2, 0)); // read-only name
        QVERIFY(!f.view->editCell(0, 2)); // heading
        f.grid.setEditable(false);
        f.view->refresh();
        QVERIFY(!f.view->editCell(2, 2));
        QCOMPARE(begins, 0);
        QVERIFY(!f.view->isEditing());
    }

    void typingIntoACellStartsTheEditWithThatKey() {
        Fixture f;
        int begins = 0;
        f.view->setBeginEditHandler([&](int, int) { ++begins; return true; });
        f.view->setCurrentIndex(f.view->indexOfCell(2, 2));
        QTest::keyClick(f.view, Qt::Key_5);
        QTRY_VERIFY(f.view->isEditing());
        QCOMPARE(begins, 1);
        QVERIFY(f.lineEditor());
        QCOMPARE(f.lineEditor()->text(), QString("5"));
        QTest::keyClick(f.lineEditor(), Qt::Key_Return);
        QTRY_COMPARE(f.grid.text(2, 2), std::string("5"));
    }

    void dropDownOffersOnlyItsOptions() {
        Fixture f;
        QVERIFY(f.view->editCell(4, 2));
        auto* combo = qobject_cast<QComboBox*>(QApplication::focusWidget());
        QVERIFY(combo);
        QVERIFY(!combo->isEditable());
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->itemText(0), QString("enable"));
        QCOMPARE(combo->itemText(1), QString("disable"));
        QCOMPARE(combo->currentIndex(), 0);
        combo->setCurrentIndex(1);
        QTest::keyClick(combo, Qt::Key_Return);
        QTRY_VERIFY(!f.view->isEditing());
        QCOMPARE(f.grid.text(4, 2), std::string("disable"));
        QVERIFY(f.grid.isModified(4, 2));
    }

    void dropDownWithATextOutsideItsOptionsKeepsIt() {
        Fixture f;
        f.grid.setText(4, 2, "");
        f.grid.setModified(false, 4, 2);
        f.view->refresh();
        QVERIFY(f.view->editCell(4, 2));
        auto* combo = qobject_cast<QComboBox*>(QApplication::focusWidget());
        QVERIFY(combo);
        QCOMPARE(combo->currentIndex(), -1);
        QTest::keyClick(combo, Qt::Key_Return);
        QTRY_VERIFY(!f.view->isEditing());
        QCOMPARE(f.grid.text(4, 2), std::string());
        QVERIFY(!f.grid.isModified(4, 2));
    }

    void beginEditRunsBeforeTheEditorOpensAndMayChangeTheCell() {
        Fixture f;
        bool editorWasOpen = true;
        f.view->setBeginEditHandler([&](int row, int col) {
            editorWasOpen = f.view->isEditing();
            f.grid.setText(row, col, "from handler");
            return true;
        });
        QVERIFY(f.view->editCell(2, 2));
        QVERIFY(!editorWasOpen);
        QVERIFY(f.lineEditor());
        QCOMPARE(f.lineEditor()->text(), QString("from handler"));
    }

    void refusedBeginEditOpensNoEditor() {
        Fixture f;
        f.view->setBeginEditHandler([](int, int) { return false; });
        QVERIFY(!f.view->editCell(2, 2));
        QVERIFY(!f.view->isEditing());
        QCOMPARE(f.grid.text(2, 2), std::string("0.02"));
        // A double click is refused the same way.
        const QRect cell = f.view->visualRect(f.view->indexOfCell(2, 2));
        QTest::mouseDClick(f.view->viewport(), Qt::LeftButton, {}, cell.center());
        QVERIFY(!f.view->isEditing());
    }

    void tableRebuiltDuringTheQuestionOpensNoEditor() {
        Fixture f;
        f.view->setBeginEditHandler([&](int, int) {
            // A reply arrives while the user is still asked: the table is rebuilt.
            f.grid.removeRow(1);
            return true;
        });
        QVERIFY(!f.view->editCell(3, 2));
        QVERIFY(!f.view->isEditing());
    }
};

QTEST_MAIN(GridViewTest)
#include "grid_view_test.moc"
