// The parameter table on screen, walked as a user walks it: edits through the view's
// editors end in the command file; out of range nothing is edited and nothing is lost.
#include "../app/scripted_dialogs.h"
#include "core/reply_text.h"
#include "core/string_table.h"
#include "core/text_file.h"
#include "grid/parameter_table_view.h"
#include "params/catalogue.h"
#include "params/change_check.h"
#include "params/command_files.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QtTest>

using dm::ParameterTableModel;

namespace {

constexpr int kValue = ParameterTableModel::kValueColumn;

std::string Data(const std::string& name) {
    return dm::TryReadFile(std::string(DM_TEST_DATA) + "/" + name).value_or("");
}

// The window's pieces: the set, the model over it, the view, a scripted user.
struct Table {
    dm::ParameterSet set;
    ScriptedDialogs dialogs;
    dm::ParameterTableState state;
    ParameterTableModel model{set};
    dm::ParameterTableView view{&model};

    explicit Table(const std::string& reply) {
        set = dm::ReadParameterSet(dm::ReplyTextFromBytes(Data(reply)));
        model.setDialogs(&dialogs);
        model.fill(dm::DecodeCatalogue(Data("params-catalogue.lst")), dm::Language::English, 0, state);
        view.resize(460, 400);
    }
    // The editor the view opens on a cell, of the kind asked for.
    template <class Editor> Editor* open(int row, int column) {
        if (!view.editCell(row, column))
            return nullptr;
        return qobject_cast<Editor*>(view.indexWidget(view.indexOfCell(row, column)));
    }
    std::string commandFiles() {
        std::string all;
        for (const std::string& f : dm::ComposeSendChanges(set, model.rows(), dm::Model::Krt17a, dm::Language::English).files)
            all += f;
        return all;
    }
};

} // namespace

class ParameterTableViewTest : public QObject {
    Q_OBJECT
private slots:
    // Typed value, switch drop-down and the signal type from the signal row's value cell:
    // all three reach the command file; the set is the only copy of a value.
    void editsThroughTheEditorsReachTheCommandFile() {
        Table t("params-krt17a.txt");
        QCOMPARE(t.model.columnCount(), 2);
        const int threshold = t.model.rowOfKey("dose_threshold");
        auto* edit = t.open<QLineEdit>(threshold, kValue);
        QVERIFY(edit);
        edit->setText("0.03");
        QTest::keyClick(edit, Qt::Key_Return);
        QTRY_VERIFY(!t.view.isEditing());
        QCOMPARE(t.set.value("dose_threshold").value_or(""), std::string("0.03"));
        QCOMPARE(t.model.index(threshold, kValue).data(Qt::BackgroundRole).value<QBrush>().color(),
                 QColor(228, 214, 255)); // unsent

        auto* combo = t.open<QComboBox>(t.model.rowOfKey("cfg_alarmoff"), kValue);
        QVERIFY(combo);
        QCOMPARE(combo->count(), 2);
        combo->setCurrentIndex(combo->findText("enable"));
        QTest::keyClick(combo, Qt::Key_Return);
        QTRY_VERIFY(!t.view.isEditing());

        const int signal = t.model.rowCount() - 1;
        auto* limit = t.open<QLineEdit>(signal, kValue);
        QVERIFY(limit);
        limit->setText("125");
        auto* types = limit->findChild<QAction*>("signalTypes");
        QVERIFY(types);
        types->trigger();
        auto* menu = limit->findChild<QMenu*>("signalTypeMenu");
        QVERIFY(menu);
        QCOMPARE(menu->actions().size(), 2);
        menu->actions().at(1)->trigger(); // percent: the limit typed goes with it
        QTRY_VERIFY(!t.view.isEditing());
        QCOMPARE(t.model.text(signal, ParameterTableModel::kNameColumn),
                 dm::Tr(dm::IDS_SIGNAL_PERCENT, dm::Language::English));

        const std::string files = t.commandFiles();
        QVERIFY(files.find("dose_threshold = 0.03\r\n") != std::string::npos);
        QVERIFY(files.find("cfg_alarmoff = enable\r\n") != std::string::npos);
        QVERIFY(files.find("cfg_type_of_signal = percent\r\n") != std::string::npos);
        QVERIFY(files.find("limit_percent = 125\r\n") != std::string::npos);
    }

    // The history interval asks first, No by default; No opens no editor and touches nothing,
    // Yes opens it.
    void historyIntervalAsksFirst() {
        Table t("params-krt17a.txt");
        t.dialogs.answers = {false};
        QVERIFY(!t.view.editCell(t.model.rowOfKey("history_time"), kValue));
        QCOMPARE(t.dialogs.noDefault.size(), std::size_t(1));
        QVERIFY(!t.set.isModified("history_time"));
        // Nor can a programmatic edit slip past the question.
        t.dialogs.answers = {false};
        QVERIFY(!t.model.setData(t.model.index(t.model.rowOfKey("history_time"), kValue), "120", Qt::EditRole));
        QCOMPARE(t.set.value("history_time").value_or(""), std::string("60"));
        // Yes opens the editor; Enter on the text it started with changes nothing.
        t.dialogs.answers = {true};
        auto* edit = t.open<QLineEdit>(t.model.rowOfKey("history_time"), kValue);
        QVERIFY(edit);
        QTest::keyClick(edit, Qt::Key_Return);
        QTRY_VERIFY(!t.view.isEditing());
        QVERIFY(!t.set.isModified("history_time"));
    }

    // Any other value counts as touched once its editor opens, even when Escape closes it.
    void openedValueIsTouchedEvenWhenUnchanged() {
        Table t("params-krt17a.txt");
        auto* edit = t.open<QLineEdit>(t.model.rowOfKey("dose_threshold"), kValue);
        QVERIFY(edit);
        QTest::keyClick(edit, Qt::Key_Escape);
        QTRY_VERIFY(!t.view.isEditing());
        QVERIFY(t.set.isModified("dose_threshold"));
        QVERIFY(t.dialogs.questions.empty());
    }

    // Out of range: greyed, no editor, no edit; the unsent edit stays and is editable again
    // when the dosimeter is back.
    void outOfRangeRefusesEditsAndKeepsThem() {
        Table t("params-krt17a.txt");
        const QModelIndex owner = t.model.index(t.model.rowOfKey("userinfo"), kValue);
        QVERIFY(t.model.setData(owner, "Petrov", Qt::EditRole));
        const QColor edited = owner.data(Qt::BackgroundRole).value<QBrush>().color();
        t.model.setOutOfRange(true);
        QVERIFY(!(t.model.flags(owner) & Qt::ItemIsEditable));
        QVERIFY(!t.view.editCell(owner.row(), kValue));
        QVERIFY(!t.model.setData(owner, "Sidorov", Qt::EditRole));
        QCOMPARE(owner.data().toString(), QString("Petrov"));
        QVERIFY(owner.data(Qt::BackgroundRole).value<QBrush>().color() != edited);
        QVERIFY(dm::HasUnsentEdits(t.set));
        t.model.setOutOfRange(false);
        QVERIFY(t.model.flags(owner) & Qt::ItemIsEditable);
        QCOMPARE(owner.data(Qt::BackgroundRole).value<QBrush>().color(), edited);
        QVERIFY(t.commandFiles().find("userinfo = \"Petrov\"") != std::string::npos);
    }
};

QTEST_MAIN(ParameterTableViewTest)
#include "parameter_table_view_test.moc"
