#include "link/irda/adapters.h"

#include "link/irda/serial_port.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <system_error>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace dm::irda {

namespace fs = std::filesystem;

namespace {

std::string ReadLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

fs::path Canonical(const fs::path& p) {
    std::error_code ec;
    fs::path c = fs::canonical(p, ec);
    return ec ? fs::path() : c;
}

bool Exists(const fs::path& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

int KindOrder(const std::string& kind) { return kind == "usb-irda" ? 0 : kind == "usb-serial" ? 1 : 2; }

// "Prolific PL2303 (067b:2303)", from a USB device folder.
std::string UsbDeviceText(const fs::path& device) {
    std::string text = ReadLine(device / "manufacturer");
    const std::string product = ReadLine(device / "product");
    if (!product.empty())
        text += (text.empty() ? "" : " ") + product;
    if (text.empty())
        text = "USB device";
    const std::string vid = ReadLine(device / "idVendor");
    const std::string pid = ReadLine(device / "idProduct");
    if (!vid.empty())
        text += " (" + vid + ":" + pid + ")";
    return text;
}

// The nearest folder above a sysfs device that is a whole USB device.
fs::path UsbDeviceAbove(fs::path p) {
    for (int up = 0; up < 8 && !p.empty() && p.has_relative_path(); ++up, p = p.parent_path())
        if (Exists(p / "idVendor"))
            return p;
    return {};
}

std::string InTheWay(const fs::path& node, const std::string& group, bool serial) {
    std::string said;
#ifndef _WIN32
    if (::access(node.c_str(), R_OK | W_OK) != 0)
        said += "; no permission yet (group " + group + ")";
#else
    (void)node;
    (void)group;
#endif
    if (serial)
        if (const std::string holder = SerialPortHolder(node.string()); !holder.empty())
            said += "; in use by " + holder;
    return said;
}

void AddSerialPorts(const AdapterRoots& roots, std::vector<Adapter>& out) {
    // Stable names by the adapter's identity, so a remembered link survives a replug.
    std::map<std::string, std::string> byId;
    std::error_code ec;
    for (fs::directory_iterator it(roots.dev / "serial" / "by-id", ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path target = Canonical(it->path());
        if (!target.empty())
            byId.emplace(target.filename().string(), it->path().string());
    }
    std::vector<std::string> names;
    for (fs::directory_iterator it(roots.sys / "class" / "tty", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM", "ttyAMA"})
            if (name.rfind(prefix, 0) == 0 && name.size() > std::string(prefix).size())
                names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const fs::path tty = roots.sys / "class" / "tty" / name;
        const fs::path node = roots.dev / name;
        if (!Exists(node) || !Exists(tty / "device"))
            continue;
        const fs::path device = Canonical(tty / "device");
        const fs::path usb = UsbDeviceAbove(device);
        const std::string driver = Canonical(device / "driver").filename().string();
        Adapter a;
        const auto id = byId.find(name);
        a.link = "sir:" + (id != byId.end() ? id->second : node.string());
        if (!usb.empty()) {
            a.kind = "usb-serial";
            a.description = UsbDeviceText(usb) + ", " + node.string() + (driver.empty() ? "" : " (" + driver + ")");
        } else {
            // Placeholders for UARTs that are not there report type 0.
            if (ReadLine(tty / "type") == "0")
                continue;
            a.kind = "serial";
            a.description = "built-in serial port " + node.string();
            const std::string io = ReadLine(tty / "port");
            const std::string irq = ReadLine(tty / "irq");
            if (!io.empty() && io != "0x0")
                a.description += ", I/O " + io + (irq.empty() ? "" : " IRQ " + irq);
        }
        a.description += InTheWay(node, "dialout", true);
        out.push_back(std::move(a));
    }
}

void AddUsbBridges(const AdapterRoots& roots, std::vector<Adapter>& out) {
    std::error_code ec;
    const fs::path devices = roots.sys / "bus" / "usb" / "devices";
    for (fs::directory_iterator it(devices, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        const std::size_t colon = entry.find(':');
        if (colon == std::string::npos)
            continue; // a device, not one of its interfaces
        if (ReadLine(it->path() / "bInterfaceClass") != "fe" || ReadLine(it->path() / "bInterfaceSubClass") != "02")
            continue;
        const fs::path device = devices / entry.substr(0, colon);
        const std::string bus = ReadLine(device / "busnum");
        const std::string address = ReadLine(device / "devnum");
        if (bus.empty() || address.empty())
            continue;
        Adapter a;
        a.link = "usb-irda:" + bus + "-" + address;
        a.kind = "usb-irda";
        a.description = UsbDeviceText(device) + ", USB IrDA bridge";
        char node[32];
        std::snprintf(node, sizeof node, "%03d/%03d", std::atoi(bus.c_str()), std::atoi(address.c_str()));
        const fs::path usbNode = roots.dev / "bus" / "usb" / node;
        if (Exists(usbNode))
            a.description += InTheWay(usbNode, "plugdev", false);
        if (std::none_of(out.begin(), out.end(), [&](const Adapter& o) { return o.link == a.link; }))
            out.push_back(std::move(a));
    }
}

} // namespace

AdapterRoots SystemAdapterRoots() {
    const char* root = std::getenv("DOSIMETER_ADAPTERS_ROOT");
    if (!root || !*root)
        return {};
    return {fs::path(root) / "sys", fs::path(root) / "dev"};
}

std::vector<Adapter> ListAdapters(const AdapterRoots& roots) {
    std::vector<Adapter> adapters;
    AddUsbBridges(roots, adapters);
    AddSerialPorts(roots, adapters);
    std::stable_sort(adapters.begin(), adapters.end(), [](const Adapter& a, const Adapter& b) {
        if (KindOrder(a.kind) != KindOrder(b.kind))
            return KindOrder(a.kind) < KindOrder(b.kind);
        return a.link < b.link;
    });
    return adapters;
}

std::optional<Adapter> SoleAdapter(const std::vector<Adapter>& adapters) {
    if (adapters.empty())
        return std::nullopt;
    const std::string& kind = adapters.front().kind;
    const auto same = std::count_if(adapters.begin(), adapters.end(), [&](const Adapter& a) { return a.kind == kind; });
    if (same != 1)
        return std::nullopt;
    return adapters.front();
}

namespace {

// The port a sir: link names, resolved, so /dev/ttyUSB0 and its by-id name are one.
std::string PortOf(const std::string& link) {
    if (link.rfind("sir:", 0) != 0)
        return link;
    const std::string path = link.substr(4, link.find('?') == std::string::npos ? std::string::npos : link.find('?') - 4);
    const fs::path real = Canonical(path);
    return "sir:" + (real.empty() ? path : real.string());
}

} // namespace

std::vector<LinkChoice> LinkChoices(const std::vector<Adapter>& adapters, const std::string& currentLink) {
    std::vector<LinkChoice> choices;
    choices.push_back({"irda", "", currentLink == "irda"});
    bool found = currentLink == "irda";
    const std::string currentPort = PortOf(currentLink);
    for (const Adapter& a : adapters) {
        const bool current = !found && PortOf(a.link) == currentPort;
        choices.push_back({current ? currentLink : a.link, a.description, current});
        found = found || current;
    }
    if (!found && !currentLink.empty())
        choices.push_back({currentLink, "", true});
    return choices;
}

std::string SirLinkWithDongle(const std::string& link, const std::string& dongle) {
    const std::optional<SirLinkOptions> options = ParseSirLink(link, nullptr);
    if (!options)
        return {};
    std::string result = "sir:" + options->path;
    std::string query;
    if (dongle != "plain")
        query += "dongle=" + dongle;
    if (options->maxSpeed != SirLinkOptions{}.maxSpeed)
        query += (query.empty() ? "" : "&") + std::string("speed=") + std::to_string(options->maxSpeed);
    return query.empty() ? result : result + "?" + query;
}

std::string SirLinkDongle(const std::string& link) {
    const std::optional<SirLinkOptions> options = ParseSirLink(link, nullptr);
    return options ? options->dongle : std::string();
}

} // namespace dm::irda
