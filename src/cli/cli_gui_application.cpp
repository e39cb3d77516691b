#include "cli/cli_gui_application.h"

#include <cstdio>

namespace dm::cli {

std::unique_ptr<QGuiApplication> MakeGuiApplication() {
    if (QCoreApplication::instance())
        return nullptr;
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "dosimeter-cli: %s\n", message.toLocal8Bit().constData());
    });
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "dosimeter-cli";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
}

} // namespace dm::cli
