#include "app/window_options.h"

#include "core/text_file.h"

namespace dm {

namespace {

bool IsModel(const std::string& s) { return s == "KRT-17A" || s == "MLV-52B"; }

} // namespace

const char* WindowUsage() {
    return "usage: dosimeter-manager [--link LINK] [--simulate [KRT-17A|MLV-52B]] [--screenshots DIR]\n"
           "  --link LINK       the link to the dosimeter: irda or tcp:HOST:PORT (default: the\n"
           "                    Link= line of ~/.config/dosimeter-manager/infrared.ini,\n"
           "                    else irda)\n"
           "  --simulate MODEL  run a simulated dosimeter (default KRT-17A) on a free local\n"
           "                    port and talk to it; a Simulator menu moves it in and out\n"
           "                    of range\n"
           "  --screenshots DIR with --simulate: save a picture of the parameter table and\n"
           "                    one of the dose history tab into DIR, then close\n";
}

std::string DefaultLinkName(const std::filesystem::path& settingsFile) {
    const std::optional<std::string> text = TryReadFile(settingsFile);
    if (!text)
        return "irda";
    std::size_t start = 0;
    while (start < text->size()) {
        std::size_t end = text->find('\n', start);
        if (end == std::string::npos)
            end = text->size();
        std::string line = text->substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        const std::size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos)
            continue;
        line.erase(0, first);
        if (line.rfind("Link=", 0) == 0 && line.size() > 5)
            return line.substr(5);
    }
    return "irda";
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
