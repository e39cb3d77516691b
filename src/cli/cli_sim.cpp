// "simulate": a simulated dosimeter in the foreground until SIGINT or SIGTERM.
#include "cli/cli_common.h"
#include "cli/commands.h"

#include "sim/dose_meter.h"
#include "sim/simulated_dosimeter.h"

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

} // namespace

int RunSimulate(const Args& args) {
    Options options(
        "simulate",
        "usage: dosimeter-cli simulate --model KRT-17A|MLV-52B --listen HOST:PORT --recv-dir DIR\n"
        "                              [--records N] [--state FILE] [--catalogue F]\n"
        "                              [--reply-delay MS] [--seed N] [--verbose]\n"
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
        "  --verbose         one line on stderr per connection, command and reply\n");
    std::string model, listen, recvDir, records, state, catalogue, delay, seed;
    bool verbose = false;
    options.value("--model", &model);
    options.value("--listen", &listen);
    options.value("--recv-dir", &recvDir);
    options.value("--records", &records);
    options.value("--state", &state);
    options.value("--catalogue", &catalogue);
    options.value("--reply-delay", &delay);
    options.value("--seed", &seed);
    options.flag("--verbose", &verbose);
    if (!options.parse(args, nullptr))
        return kExitOk;
    const auto simModel = SimModelFromName(model);
    if (!simModel)
        options.usageError(model.empty()
                               ? "--model is required"
                               : "--model: expected KRT-17A or MLV-52B, got '" + model + "'");
    if (listen.empty())
        options.usageError("--listen is required");
    if (recvDir.empty())
        options.usageError("--recv-dir is required");
    const Endpoint endpoint = ParseListen(listen);

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
