#pragma once
// The serial ports and USB devices that may be IrDA adapters, as sysfs describes them:
// USB IrDA bridges (certain), USB serial ports (ttyUSB, ttyACM: often a serial IrDA
// adapter behind a USB-UART chip) and built-in serial ports with a UART behind them.
// `dosimeter-cli adapters` prints the list; the irda link falls back to the one adapter
// it holds on kernels without IrDA sockets; the window offers them in its Link menu.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace dm::irda {

struct Adapter {
    std::string link;        // "sir:/dev/serial/by-id/...", "usb-irda:1-4"
    std::string kind;        // "usb-irda", "usb-serial" or "serial"
    std::string description; // what sysfs says of it, and anything in the way (permission, a holder)
};

// Where to look; tests point both at a made-up tree.
struct AdapterRoots {
    std::filesystem::path sys = "/sys";
    std::filesystem::path dev = "/dev";
};

// /sys and /dev, or ROOT/sys and ROOT/dev when DOSIMETER_ADAPTERS_ROOT=ROOT is set: the
// test command sets it, so no test ever opens a real port of the machine it runs on.
AdapterRoots SystemAdapterRoots();

// USB IrDA bridges first, then USB serial ports, then built-in ones; by name within each.
std::vector<Adapter> ListAdapters(const AdapterRoots& roots = SystemAdapterRoots());

// The adapter a link may take without being told: the one of the first kind present in
// the order above, when that kind has exactly one. Nothing when none, or when several
// of that kind leave the choice to the user.
std::optional<Adapter> SoleAdapter(const std::vector<Adapter>& adapters);

// One entry of the window's Link menu.
struct LinkChoice {
    std::string link;  // as given to --link; a remembered dongle or speed is kept
    std::string label; // what sysfs says of it; empty for the IrDA sockets and other links
    bool current = false;
};

// The IrDA sockets ("irda"), each adapter found, and the current link when it is none of
// them (a tcp: link, an adapter unplugged since): in that order, the current one marked.
std::vector<LinkChoice> LinkChoices(const std::vector<Adapter>& adapters, const std::string& currentLink);

// A sir: link with its dongle replaced (speed kept); empty for any other link.
std::string SirLinkWithDongle(const std::string& link, const std::string& dongle);
// The dongle a sir: link names ("plain" when none); empty for any other link.
std::string SirLinkDongle(const std::string& link);

} // namespace dm::irda
