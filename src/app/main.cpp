#include "app/application.h"
#include "app/window_options.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Qt's own options ("-platform offscreen", "-style Fusion") start with a single dash.
bool HasToolkitOptions(const std::vector<std::string>& args) {
    for (const std::string& a : args)
        if (a.size() > 1 && a[0] == '-' && a[1] != '-')
            return true;
    return false;
}

bool HasDisplay(const std::vector<std::string>& args) {
#if defined(_WIN32) || defined(__APPLE__)
    (void)args;
    return true;
#else
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return HasToolkitOptions(args); // "-platform ..." chooses one
#endif
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> raw(argv + 1, argv + argc);
    // Help and command-line mistakes need no window, so they work without a display.
    if (!HasToolkitOptions(raw)) {
        const dm::WindowOptions options = dm::ParseWindowOptions(raw);
        if (options.help || options.version) {
            std::fputs(options.help ? dm::WindowUsage() : dm::WindowVersion(), stdout);
            return std::fflush(stdout) == 0 ? 0 : 1; // a full disk is no success
        }
        if (!options.error.empty()) {
            std::fprintf(stderr, "dosimeter-manager: %s\n%s", options.error.c_str(), dm::WindowUsage());
            return 2;
        }
    }
    if (!HasDisplay(raw)) {
        std::fprintf(stderr, "dosimeter-manager: no display to show the window on; run it under Xvfb: "
                             "xvfb-run -a dosimeter-manager\n");
        return 1;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("dosimeter-manager"));
    QApplication::setDesktopFileName(QStringLiteral("dosimeter-manager"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("dosimeter-manager")));
    std::vector<std::string> args;
    const QStringList arguments = QApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i)
        args.push_back(arguments[i].toStdString());
    Application app;
    return app.run(args);
}
