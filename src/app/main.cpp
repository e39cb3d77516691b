#include "app/tessaly_app.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("dosimeter-manager"));
    QApplication::setDesktopFileName(QStringLiteral("dosimeter-manager"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("dosimeter-manager")));
    std::vector<std::string> args;
    const QStringList arguments = QApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i)
        args.push_back(arguments[i].toStdString());
    CTessalyApp app;
    return app.Run(args);
}
