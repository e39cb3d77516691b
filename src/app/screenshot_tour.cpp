#include "app/screenshot_tour.h"

#include "app/main_window.h"
#include "core/string_table.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QTabBar>

#include <cstdio>

ScreenshotTour::ScreenshotTour(MainWindow& window, QString dir) : window_(window), dir_(std::move(dir)) {
    timer_.setInterval(250);
    connect(&timer_, &QTimer::timeout, this, &ScreenshotTour::poll);
    timer_.start();
}

bool ScreenshotTour::save(const QString& what) { return save(what, window_); }

bool ScreenshotTour::save(const QString& what, QWidget& shown) {
    const QString lang = window_.langBase() == dm::kLangEnglish ? QStringLiteral("en") : QStringLiteral("ru");
    const QString file = QDir(dir_).filePath(QStringLiteral("window-%1-%2.png").arg(lang, what));
    // The frame and title bar belong to the window manager; the picture is the window's own.
    if (!shown.grab().save(file)) {
        std::fprintf(stderr, "dosimeter-manager: cannot write %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
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
        if (window_.grid().rowCount() > 1 && window_.button(Action::GetDoseHistory)->isEnabled()) {
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
                timer_.stop();
                if (diagramSaved_) {
                    step_ = Step::Done;
                    window_.accept();
                } else {
                    window_.reject();
                }
            });
        }
        break;
    case Step::WaitDiagram:
        if (QWidget* diagram = QApplication::activeModalWidget(); diagram && diagram != &window_) {
            diagramSaved_ = save(QStringLiteral("diagram"), *diagram);
            diagram->close();
        }
        break;
    case Step::Done:
        break;
    }
}
