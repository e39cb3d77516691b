// adapters: the serial ports and USB devices that may be IrDA adapters, one a line.
#include "cli/cli_common.h"
#include "cli/commands.h"

#include "link/irda/adapters.h"

#include <cstdio>

namespace dm::cli {

int RunAdapters(const Args& args) {
    Options options("adapters",
                    "usage: dosimeter-cli adapters [--json]\n"
                    "Lists the serial ports and USB devices that may be IrDA adapters, one a line:\n"
                    "the link to give with --link, its kind (usb-irda, usb-serial, serial) and what\n"
                    "the system says of it, TAB-separated. USB IrDA bridges come first, then USB\n"
                    "serial ports, then built-in ones. A serial adapter that needs a routine to\n"
                    "change speed is named with ?dongle=NAME after the port (see the README).\n"
                    "  --json  a list of objects with link, kind and description\n");
    bool json = false;
    options.flag("--json", &json);
    if (!options.parse(args, nullptr))
        return kExitOk;
    const std::vector<irda::Adapter> adapters = irda::ListAdapters();
    std::string out;
    if (json) {
        out = "[";
        for (std::size_t i = 0; i < adapters.size(); ++i)
            out += std::string(i ? ",\n " : "\n ") + "{\"link\": " + JsonString(adapters[i].link) +
                   ", \"kind\": " + JsonString(adapters[i].kind) +
                   ", \"description\": " + JsonString(adapters[i].description) + "}";
        out += adapters.empty() ? "]\n" : "\n]\n";
    } else {
        for (const irda::Adapter& a : adapters)
            out += a.link + "\t" + a.kind + "\t" + a.description + "\n";
    }
    WriteStdout(out);
    if (adapters.empty() && !json)
        std::fprintf(stderr, "dosimeter-cli: adapters: none found; plug in a serial or USB IrDA adapter\n");
    return kExitOk;
}

} // namespace dm::cli
