// push: one OBEX push of a file as "command.txt", printing the answer to each request.
#include "cli/cli_common.h"
#include "cli/commands.h"

#include "link/obex_push.h"
#include "link/transport.h"

#include <vector>

namespace dm::cli {

int RunPush(const Args& args) {
    Options options("push",
                    "usage: dosimeter-cli push --link LINK [--capture PCAP] FILE\n"
                    "Pushes FILE's bytes as \"command.txt\" with OBEX over LINK (irda,\n"
                    "tcp:HOST:PORT, sir:PATH[?dongle=NAME&speed=BAUD] or usb-irda[:BUS-ADDRESS])\n"
                    "and prints the response code to each request, one a line\n"
                    "(\"CONNECT 0xA0\", \"PUT 0x90\", \"PUT 0xA0\", \"DISCONNECT 0xA0\").\n"
                    "Exit 0 when the final PUT was answered with anything but Continue.\n"
                    "  --capture PCAP  every IrDA frame of a sir: or usb-irda link as pcap\n");
    std::string link;
    std::string capture;
    options.value("--link", &link);
    options.value("--capture", &capture);
    std::vector<std::string> files;
    if (!options.parse(args, &files))
        return kExitOk;
    if (link.empty())
        options.usageError("--link is required");
    if (files.size() != 1)
        options.usageError("give exactly one FILE");
    const std::string bytes = ReadInputFile(files.front());
    std::string error;
    TransportOptions transportOptions;
    transportOptions.capturePath = capture;
    bool nameError = false;
    std::unique_ptr<Transport> transport = MakeTransport(link, transportOptions, &error, &nameError);
    if (!transport)
        Fail(nameError ? kExitUsage : kExitFailed, "push: --link: " + error);
    if (bytes.size() > kMaxCommandTextBytes)
        Fail(kExitFailed, "push: " + files.front() + " has " + std::to_string(bytes.size()) +
                              " bytes, more than the " + std::to_string(kMaxCommandTextBytes) +
                              " one push carries; nothing sent");

    DeviceId device{};
    if (std::optional<DeviceId> fixed = transport->fixedDevice()) {
        device = *fixed;
    } else {
        if (transport->openDiscovery() != DiscoveryStart::Ok) {
            const std::string reason = transport->linkError();
            Fail(kExitFailed, "push: " + link + ": " +
                                  (reason.empty() ? "no IrDA sockets on this machine "
                                                    "(Error#23. Check if IRDA module is installed.)"
                                                  : reason));
        }
        std::vector<DeviceId> devices;
        const bool listed = transport->enumerate(&devices);
        transport->closeDiscovery();
        if (!listed)
            Fail(kExitFailed, "push: " + link + ": the device list cannot be read");
        if (devices.empty())
            Fail(kExitFailed, "push: " + link + ": no dosimeter in range");
        device = devices.front();
    }

    const PushReport report = PushCommandFile(*transport, device, bytes);
    WriteStdout(FormatPushReport(report));
    if (!report.completed)
        Fail(kExitFailed, "push: " + link + ": " + report.error);
    return kExitOk;
}

} // namespace dm::cli
