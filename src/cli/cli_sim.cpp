// "simulate": a simulated dosimeter in the foreground until SIGINT or SIGTERM.
#include "cli/cli_common.h"
#include "cli/commands.h"

#include "sim/dose_meter.h"
#include "sim/simulated_dosimeter.h"
#ifndef _WIN32
#include "link/irda/serial_port.h"
#include "sim/irda_dosimeter.h"
#endif

#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <thread>

#ifndef _WIN32
#include <pthread.h>
#endif

namespace dm::cli {
namespace {

struct Endpoint {
    std::string host;
    std::uint16_t port = 0;
};

Endpoint ParseListen(const std::string& text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
        Fail(kExitUsage, "simulate: --listen: expected HOST:PORT, got '" + text + "'");
    Endpoint e;
    e.host = text.substr(0, colon);
    if (e.host.size() >= 2 && e.host.front() == '[' && e.host.back() == ']')
        e.host = e.host.substr(1, e.host.size() - 2);
    const long long port = IntegerOption("--listen port", text.substr(colon + 1));
    if (port < 0 || port > 65535)
        Fail(kExitUsage,
             "simulate: --listen: port must be 0 to 65535, got " + text.substr(colon + 1));
    e.port = static_cast<std::uint16_t>(port);
    return e;
}

#ifndef _WIN32
// Blocks SIGINT and SIGTERM for the threads started after it and waits for one of them.
class SignalWait {
public:
    SignalWait() {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGINT);
        sigaddset(&signals_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals_, &previous_);
    }
    ~SignalWait() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    void wait() {
        int received = 0;
        while (sigwait(&signals_, &received) != 0) {
        }
    }

private:
    sigset_t signals_;
    sigset_t previous_;
};
#endif

// The simulated dosimeter over IrDA on the serial line the link names.
int RunIrdaSimulate(Model model, const std::string& modelName, const std::string& link, const std::string& capture,
                    bool pace, const SimOptions& sim) {
#ifdef _WIN32
    (void)model;
    (void)modelName;
    (void)capture;
    (void)pace;
    (void)sim;
    Fail(kExitUsage, "simulate: --link " + link + ": not available on this system");
#else
    if (link.rfind("sir:", 0) != 0)
        Fail(kExitUsage, "simulate: --link: expected sir:PATH, got '" + link + "'");
    std::string error;
    std::optional<irda::SirLinkOptions> sir = irda::ParseSirLink(link, &error);
    if (!sir)
        Fail(kExitUsage, "simulate: --link: " + error);
    sir->paced = pace;
    IrdaDosimeter dosimeter(model, sim);
    if (!dosimeter.loadState(&error))
        Fail(kExitUsage, "simulate: " + error);
    SignalWait signals;
    std::unique_ptr<irda::FramePort> port = irda::OpenSirPort(*sir, &error);
    if (!port)
        Fail(kExitFailed, "simulate: " + error);
    if (!dosimeter.start(std::move(port), capture, &error))
        Fail(kExitFailed, "simulate: " + error);
    WriteStdout("simulated " + modelName + " on " + link + (pace ? " (paced)" : "") + "\n");
    signals.wait();
    dosimeter.stop();
    if (const std::string saveError = dosimeter.stateError(); !saveError.empty())
        Fail(kExitFailed, "simulate: " + saveError);
    return kExitOk;
#endif
}

} // namespace

int RunSimulate(const Args& args) {
    Options options(
        "simulate",
        "usage: dosimeter-cli simulate --model KRT-17A|MLV-52B --listen HOST:PORT --recv-dir DIR\n"
        "                              [--records N] [--state FILE] [--catalogue F]\n"
        "                              [--reply-delay MS] [--seed N] [--verbose]\n"
        "       dosimeter-cli simulate --model KRT-17A|MLV-52B --link sir:PATH [--pace]\n"
        "                              [--capture FILE] [--records N] [--state FILE] ...\n"
        "Runs a simulated dosimeter in the foreground: an OBEX-over-TCP server at HOST:PORT\n"
        "(port 0: any free port) that acts on each \"command.txt\" pushed to it and writes its\n"
        "replies into DIR, as the infrared file-transfer service would. Stops on SIGINT or\n"
        "SIGTERM.\n"
        "  --records N       dose history records at start (default 120; a loaded state keeps its "
        "own)\n"
        "  --state FILE      keep parameters and history across runs in FILE\n"
        "  --catalogue F     the catalogue whose keys are answered (default: Commands.lst)\n"
        "  --reply-delay MS  time between a push and its replies (default 1500)\n"
        "  --seed N          pseudo-random dose pattern (default: a new one each run)\n"
        "  --verbose         one line on stderr per connection, command and reply\n"
        "With --link sir:PATH the dosimeter is at the far end of that serial line (one end of a\n"
        "pseudo-terminal pair in tests): it answers discovery, takes \"command.txt\" over IrDA\n"
        "and beams its replies back to the computer's OBEX receiver (no --recv-dir).\n"
        "  --pace            bytes go no faster than the negotiated speed (ten bits a byte)\n"
        "  --capture FILE    every IrDA frame in and out as pcap (link type 144)\n");
    std::string model, listen, recvDir, records, state, catalogue, delay, seed, link, capture;
    bool verbose = false;
    bool pace = false;
    options.value("--model", &model);
    options.value("--listen", &listen);
    options.value("--recv-dir", &recvDir);
    options.value("--records", &records);
    options.value("--state", &state);
    options.value("--catalogue", &catalogue);
    options.value("--reply-delay", &delay);
    options.value("--seed", &seed);
    options.flag("--verbose", &verbose);
    options.value("--link", &link);
    options.value("--capture", &capture);
    options.flag("--pace", &pace);
    if (!options.parse(args, nullptr))
        return kExitOk;
    const auto simModel = ModelFromName(model);
    if (!simModel)
        options.usageError(model.empty()
                               ? "--model is required"
                               : "--model: expected KRT-17A or MLV-52B, got '" + model + "'");
    if (!link.empty()) {
        if (!listen.empty() || !recvDir.empty())
            options.usageError("--link goes without --listen and --recv-dir");
    } else {
        if (listen.empty())
            options.usageError("--listen is required");
        if (recvDir.empty())
            options.usageError("--recv-dir is required");
        if (pace || !capture.empty())
            options.usageError("--pace and --capture go with --link sir:PATH");
    }

    SimOptions sim;
    if (!records.empty()) {
        const long long n = IntegerOption("--records", records);
        if (n < 0 || n > static_cast<long long>(DoseMeter::kHistoryCapacity))
            Fail(kExitUsage, "simulate: --records: expected 0 to " +
                                 std::to_string(DoseMeter::kHistoryCapacity) + ", got " + records);
        sim.records = static_cast<std::size_t>(n);
    }
    if (!delay.empty()) {
        const long long ms = IntegerOption("--reply-delay", delay);
        if (ms < 0 || ms > 60000)
            Fail(kExitUsage, "simulate: --reply-delay: expected 0 to 60000 ms, got " + delay);
        sim.replyDelayMs = static_cast<int>(ms);
    }
    if (!seed.empty()) {
        const long long s = IntegerOption("--seed", seed);
        if (s < 1)
            Fail(kExitUsage, "simulate: --seed: expected a whole number above 0, got " + seed);
        sim.seed = static_cast<std::uint64_t>(s);
    }
    sim.stateFile = state;
    sim.catalogue = catalogue;
    std::mutex logMutex;
    if (verbose)
        sim.log = [&logMutex](const std::string& line) {
            std::lock_guard lock(logMutex);
            std::cerr << "simulate: " << line << std::endl;
        };

    if (!link.empty())
        return RunIrdaSimulate(*simModel, model, link, capture, pace, sim);
    const Endpoint endpoint = ParseListen(listen);
    SimulatedDosimeter dosimeter(*simModel, recvDir, sim);
    std::string error;
    if (!dosimeter.loadState(&error))
        Fail(kExitUsage, "simulate: " + error);

#ifndef _WIN32
    // The signals wait for this thread alone: block them before the server thread starts,
    // so it inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &signals, &previous);
#endif
    if (!dosimeter.start(endpoint.host, endpoint.port, &error)) {
#ifndef _WIN32
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
#endif
        Fail(kExitFailed, "simulate: " + error);
    }
    WriteStdout("simulated " + model + " listening on " + endpoint.host + ":" +
                std::to_string(dosimeter.port()) + ", replies into " + recvDir + "\n");

#ifndef _WIN32
    int received = 0;
    while (sigwait(&signals, &received) != 0) {
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
#else
    static volatile std::sig_atomic_t stopSignal = 0;
    std::signal(SIGINT, [](int) { stopSignal = 1; });
    std::signal(SIGTERM, [](int) { stopSignal = 1; });
    while (!stopSignal)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
#endif
    dosimeter.stop();
    if (const std::string saveError = dosimeter.stateError(); !saveError.empty())
        Fail(kExitFailed, "simulate: " + saveError);
    return kExitOk;
}

} // namespace dm::cli
