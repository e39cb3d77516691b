#include "app/window_options.h"

namespace dm {

namespace {

bool IsModel(const std::string& s) { return s == "KRT-17A" || s == "MLV-52B"; }

} // namespace

const char* WindowUsage() {
    return "usage: dosimeter-manager [--link LINK] [--simulate [KRT-17A|MLV-52B]] [--screenshots DIR]\n"
           "  --link LINK       the link to the dosimeter: irda (default) or tcp:HOST:PORT\n"
           "  --simulate MODEL  run a simulated dosimeter (default KRT-17A) on a free local\n"
           "                    port and talk to it; a Simulator menu moves it in and out\n"
           "                    of range\n"
           "  --screenshots DIR with --simulate: save a picture of the parameter table and\n"
           "                    one of the dose history tab into DIR, then close\n";
}

WindowOptions ParseWindowOptions(const std::vector<std::string>& args) {
    WindowOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--link" || a.rfind("--link=", 0) == 0) {
            std::string value;
            if (a == "--link") {
                if (i + 1 >= args.size()) {
                    o.error = "--link needs a value (irda or tcp:HOST:PORT)";
                    return o;
                }
                value = args[++i];
            } else {
                value = a.substr(7);
            }
            if (value.empty()) {
                o.error = "--link needs a value (irda or tcp:HOST:PORT)";
                return o;
            }
            o.link = value;
        } else if (a == "--simulate" || a.rfind("--simulate=", 0) == 0) {
            std::string model = "KRT-17A";
            if (a != "--simulate") {
                model = a.substr(11);
            } else if (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) {
                model = args[++i];
            }
            if (!IsModel(model)) {
                o.error = "--simulate: unknown model \"" + model + "\" (KRT-17A or MLV-52B)";
                return o;
            }
            o.simulate = model;
        } else if (a == "--screenshots") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                o.error = "--screenshots needs a folder";
                return o;
            }
            o.screenshots = args[++i];
        } else {
            o.error = "unknown argument \"" + a + "\"";
            return o;
        }
    }
    if (o.simulate && !o.link.empty())
        o.error = "--simulate and --link cannot be used together";
    else if (!o.screenshots.empty() && !o.simulate)
        o.error = "--screenshots works with --simulate only";
    return o;
}

} // namespace dm
