#include "app/screenshot_tour.h"

#include <QAction>

#include "app/main_window.h"
#include "core/string_table.h"
#include "grid/parameter_table_view.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QTabBar>

#include <cstdio>

ScreenshotTour::ScreenshotTour(MainWindow& window, QString dir) : window_(window), dir_(std::move(dir)) {
    timer_.setInterval(250);
    connect(&timer_, &QTimer::timeout, this, &ScreenshotTour::poll);
    timer_.start();
}

void ScreenshotTour::closeWindow() {
    // Closing asks about the unsent edits: the next polls answer Discard.
    step_ = Step::WaitUnsentQuestion;
    QTimer::singleShot(0, this, [this] {
        window_.accept();
        timer_.stop();
    });
}

bool ScreenshotTour::save(const QString& what) { return save(what, window_); }

bool ScreenshotTour::save(const QString& what, QWidget& shown) {
    const QString lang = window_.language() == dm::Language::English ? QStringLiteral("en") : QStringLiteral("ru");
    const QString file = QDir(dir_).filePath(QStringLiteral("window-%1-%2.png").arg(lang, what));
    // The frame and title bar belong to the window manager; the picture is the window's own.
    if (!shown.grab().save(file)) {
        std::fprintf(stderr, "dosimeter-manager: cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

bool ScreenshotTour::type(const std::string& key, const QString& text) {
    dm::ParameterTableView* view = window_.gridView();
    constexpr int value = dm::ParameterTableModel::kValueColumn;
    const int row = window_.grid().rowOfKey(key);
    if (row < 0 || !view->editCell(row, value))
        return false;
    auto* editor = qobject_cast<QLineEdit*>(view->indexWidget(view->indexOfCell(row, value)));
    if (!editor)
        return false;
    editor->setText(text);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(editor, &enter);
    // The view closes the editor from the event loop.
    QApplication::processEvents();
    return !view->isEditing();
}

void ScreenshotTour::fail() {
    timer_.stop();
    window_.reject();
}

void ScreenshotTour::poll() {
    if (++polls_ > 240) { // a minute without the replies
        std::fprintf(stderr, "dosimeter-manager: no reply from the dosimeter for the screenshots\n");
        timer_.stop();
        window_.reject();
        return;
    }
    switch (step_) {
    case Step::WaitParameters:
        if (!window_.grid().isEmpty() && window_.button(Action::GetDoseHistory)->isEnabled()) {
            if (!save(QStringLiteral("parameters"))) {
                window_.reject();
                return;
            }
            window_.button(Action::GetDoseHistory)->click();
            step_ = Step::WaitArchive;
        }
        break;
    case Step::WaitArchive:
        if (window_.tabBar()->count() > 1 && window_.button(Action::GetDoseHistory)->isEnabled()) {
            window_.tabBar()->setCurrentIndex(1);
            if (!save(QStringLiteral("dose-history"))) {
                timer_.stop();
                window_.reject();
                return;
            }
            // The diagram window is modal: the next polls run inside it and close it. It is
            // opened outside this poll, as a timer does not fire again inside its own call.
            step_ = Step::WaitDiagram;
            QTimer::singleShot(0, this, [this] {
                window_.button(Action::DisplayAsDiagram)->click();
                if (diagramSaved_)
                    step_ = Step::Edit;
                else
                    fail();
            });
        }
        break;
    case Step::WaitDiagram:
        if (QWidget* diagram = QApplication::activeModalWidget(); diagram && diagram != &window_) {
            diagramSaved_ = save(QStringLiteral("diagram"), *diagram);
            diagram->close();
        }
        break;
    case Step::Edit: {
        window_.tabBar()->setCurrentIndex(0);
        // One value the check refuses, one it takes: both marked, the reason in the log.
        const QString owner = window_.language() == dm::Language::English ? QStringLiteral("Shift B, locker 12")
                                                                     : QString::fromUtf8("Смена Б, шкаф 12");
        if (!type("dose_threshold", QStringLiteral("5,0E-03x")) || !type("userinfo", owner)) {
            std::fprintf(stderr, "dosimeter-manager: cannot edit the parameters for the screenshots\n");
            fail();
            return;
        }
        window_.button(Action::SendChanges)->click();
        window_.gridView()->clearSelection(); // the marks show, not the selection
        if (!save(QStringLiteral("editing"))) {
            fail();
            return;
        }
        // The dosimeter leaves with the edits unsent: the table stays, greyed.
        if (auto* out = window_.findChild<QAction*>(QStringLiteral("actionSimOut"))) {
            step_ = Step::WaitOutOfRange;
            out->trigger();
        } else {
            closeWindow();
        }
        break;
    }
    case Step::WaitOutOfRange:
        if (window_.controller().outOfRange()) {
            window_.gridView()->clearSelection();
            if (!save(QStringLiteral("out-of-range"))) {
                fail();
                return;
            }
            closeWindow();
        }
        break;
    case Step::WaitUnsentQuestion:
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            step_ = Step::Done;
            box->button(QMessageBox::Discard)->click();
        }
        break;
    case Step::Done:
        break;
    }
}
