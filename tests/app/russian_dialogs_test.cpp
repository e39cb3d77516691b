// The dialogs around the main window as a Russian user meets them: About, the password
// entry and the message boxes, their titles and buttons (Qt's own translated) in Russian.
#include "access/password_dialog.h"
#include "app/about_dialog.h"
#include "app/qt_translations.h"
#include "app/qt_user_dialogs.h"
#include "core/string_table.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

QString Ru(int id) { return QString::fromStdString(dm::Tr(id, dm::Language::Russian)); }

// Runs check on the message box once the call below opens it, then presses key there.
void OnNextBox(std::function<void(QMessageBox&)> check, Qt::Key key) {
    // The pending timer holds the poll; the poll holds itself only weakly, so it goes
    // once the box has been answered.
    auto poll = std::make_shared<std::function<void()>>();
    std::weak_ptr<std::function<void()>> weak = poll;
    *poll = [weak, check, key] {
        const auto self = weak.lock();
        if (!self)
            return;
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(10, [self] { (*self)(); });
            return;
        }
        check(*box);
        QTest::keyClick(box, key);
    };
    QTimer::singleShot(0, [poll] { (*poll)(); });
}

// The box's title, then its buttons' captions in alphabetical order.
QStringList TextsOf(const QMessageBox& box) {
    QStringList buttons;
    for (const QAbstractButton* button : box.buttons())
        buttons << button->text();
    buttons.sort();
    return QStringList{box.windowTitle()} + buttons;
}

} // namespace

class RussianDialogsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(dm::UseQtTranslations(dm::Language::Russian)); }
    void cleanupTestCase() { dm::UseQtTranslations(dm::Language::English); }

    void aboutAndPassword() {
        AboutDialog about(nullptr, dm::Language::Russian, AboutRecordsNote(dm::Language::Russian, "sqlite:/srv/r.sqlite"));
        QCOMPARE(about.windowTitle(), QString::fromUtf8("О программе"));
        QCOMPARE(about.findChild<QLabel*>("aboutRecords")->text(), QString::fromUtf8("Учёт доз: sqlite:/srv/r.sqlite"));
        const auto aboutButtons = about.findChildren<QPushButton*>();
        QCOMPARE(aboutButtons.size(), 1);
        QCOMPARE(aboutButtons.first()->text(), QString::fromUtf8("ОК"));

        PasswordDialog password(nullptr, dm::Language::Russian);
        QCOMPARE(password.windowTitle(), QString::fromUtf8("Ввод пароля"));
        QCOMPARE(password.findChild<QPushButton*>("ok")->text(), QString::fromUtf8("ОК"));
        QCOMPARE(password.findChild<QPushButton*>("cancel")->text(), QString::fromUtf8("Отмена"));
        // The longer Russian captions fit their buttons.
        for (const char* name : {"ok", "cancel"}) {
            const QPushButton* button = password.findChild<QPushButton*>(name);
            QVERIFY(button->fontMetrics().horizontalAdvance(button->text()) < button->width());
        }
    }

    // Each kind of box the logic asks for: titled as the window (its caption's trailing
    // blank dropped), or the program's name without one; Qt's Yes and No in Russian; Enter
    // keeps the dose history; the unsent edits are dropped with "Отбросить".
    void messageBoxes() {
        QWidget window;
        window.setWindowTitle(Ru(dm::IDS_CAPTION));
        QtUserDialogs dialogs(&window, [] { return dm::Language::Russian; });
        const QString caption = Ru(dm::IDS_CAPTION).trimmed();

        QStringList seen;
        OnNextBox([&](QMessageBox& box) { seen = TextsOf(box); }, Qt::Key_Return);
        QVERIFY(!dialogs.askYesNoDefaultNo(dm::Tr(dm::IDS_WARN_HISTORY_TIME, dm::Language::Russian)));
        QCOMPARE(seen, QStringList({caption, QString::fromUtf8("&Да"), QString::fromUtf8("&Нет")}));

        OnNextBox([&](QMessageBox& box) { seen = TextsOf(box); }, Qt::Key_Escape);
        QCOMPARE(dialogs.askUnsentEdits(dm::Tr(dm::IDS_ASK_UNSENT_EDITS, dm::Language::Russian)),
                 dm::UnsentEditsAnswer::Cancel);
        QCOMPARE(seen, QStringList({caption, QString::fromUtf8("Отбросить"), QString::fromUtf8("Отмена"),
                                    QString::fromUtf8("Передать")}));

        QtUserDialogs untitled(nullptr, [] { return dm::Language::Russian; });
        OnNextBox([&](QMessageBox& box) { seen = TextsOf(box); }, Qt::Key_Return);
        untitled.showMessage(dm::Tr(dm::IDS_TABLE_EMPTY, dm::Language::Russian));
        QCOMPARE(seen.first(), Ru(dm::IDS_PROGRAM_NAME));
    }
};

QTEST_MAIN(RussianDialogsTest)
#include "russian_dialogs_test.moc"
