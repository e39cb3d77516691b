#pragma once
// The subcommands that draw (chart, the dose record PDF) need fonts and a paint device,
// which need a QGuiApplication; without a display it runs on the offscreen platform.
#include <QGuiApplication>

#include <memory>

namespace dm::cli {

// A QGuiApplication that lives while the subcommand runs; none when the program already
// has an application object. Qt's notes about the session (runtime folders, fonts) are
// not the tool's output: only its critical messages reach stderr.
std::unique_ptr<QGuiApplication> MakeGuiApplication();

} // namespace dm::cli
