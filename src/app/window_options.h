#pragma once
// The window's command line:
//   dosimeter-manager [--link LINK] [--simulate [KRT-17A|MLV-52B]] [--simulate-link sir|tcp]
//                     [--capture FILE] [--db URL] [--screenshots DIR] [--help] [--version]
#include "core/model.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace dm {

struct WindowOptions {
    std::string link;                     // empty: the default link
    std::optional<Model> simulate;        // the simulated model
    std::string screenshots;              // non-empty: save pictures of the window there and exit
    std::string db;                       // the records database URL; empty: not given
    // How the simulated dosimeter is reached: "sir" (its IrDA stack on a pair of
    // pseudo-terminals, the default) or "tcp" (OBEX over TCP on a local port).
    std::string simulateLink = "sir";
    std::string capture;                  // non-empty: capture the link's frames there from the start
    bool help = false;
    bool version = false;
    std::string error;                    // non-empty: the command line is wrong
};

WindowOptions ParseWindowOptions(const std::vector<std::string>& args);

const char* WindowUsage();

// "dosimeter-manager 1.0.0": what --version prints.
const char* WindowVersion();

// The link used without --link: the "Link=" line of the infrared settings file (the
// file that also names the received-files folder), else "irda".
std::string DefaultLinkName(const std::filesystem::path& settingsFile);

// The value of the first "NAME = value" line of that settings file with a value, without
// the blanks around it; empty when none.
std::string SettingsValue(const std::filesystem::path& settingsFile, const std::string& name);
// Sets that line (the first such, else a new last line), keeping every other line, and
// writes the file whole; false with the reason when it cannot.
bool StoreSettingsValue(const std::filesystem::path& settingsFile, const std::string& name, const std::string& value,
                        std::string* error);

} // namespace dm
