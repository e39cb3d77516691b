// The serial frame port's pacing over a pseudo-terminal, which itself has no line timing:
// a paced port must take at least as long as the line would (ten bits a byte at the
// speed set) and not much longer. The floor, measured in the same run, is the same
// frames sent unpaced; the line time is computed from the bytes on the wire.
#include "link/irda/serial_port.h"
#include "link/irda/sir_codec.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Sends `frames` frames of 1000 bytes over a pseudo-terminal at 115,200 baud; the far end
// is drained on a thread. The time taken, and the bytes that went on the line.
std::pair<Clock::duration, std::size_t> SendOverPty(bool paced, int frames) {
    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return {};
    std::atomic<bool> stop{false};
    std::thread drain([&] {
        char buffer[65536];
        pollfd p{master, POLLIN, 0};
        while (!stop)
            if (::poll(&p, 1, 10) > 0 && ::read(master, buffer, sizeof buffer) <= 0)
                break;
    });
    dm::irda::SirLinkOptions options;
    options.path = name;
    options.dongle = "direct";
    options.paced = paced;
    std::string error;
    auto port = dm::irda::OpenSirPort(options, &error);
    Clock::duration took{};
    std::size_t wire = 0;
    if (port && port->setSpeed(115200, &error)) {
        const dm::irda::Bytes frame(1000, 0x5A);
        dm::irda::Bytes wrapped;
        dm::irda::SirWrap(frame, 0, wrapped);
        const auto begin = Clock::now();
        for (int i = 0; i < frames; ++i)
            port->send(frame, 0, &error);
        took = Clock::now() - begin;
        wire = wrapped.size() * static_cast<std::size_t>(frames);
    }
    port.reset();
    stop = true;
    drain.join();
    ::close(master);
    ::close(slave);
    return {took, wire};
}

void BM_PacedSendAt115200(benchmark::State& state) {
    const int frames = 20; // about 1.8 s of line time
    double paced = 0, floor = 0, line = 0;
    for (auto _ : state) {
        const auto [pacedTime, wire] = SendOverPty(true, frames);
        const auto [floorTime, wireAgain] = SendOverPty(false, frames);
        paced += std::chrono::duration<double>(pacedTime).count();
        floor += std::chrono::duration<double>(floorTime).count();
        line += std::chrono::duration<double>(dm::irda::LineTime(wire, 115200)).count();
        benchmark::DoNotOptimize(wireAgain);
    }
    // 1.0: exactly the line's pace; below 1 would be faster than the line allows.
    state.counters["paced_vs_line"] = line > 0 ? paced / line : 0.0;
    state.counters["paced_vs_unpaced_floor"] = floor > 0 ? paced / floor : 0.0;
}
BENCHMARK(BM_PacedSendAt115200)->Iterations(2)->Unit(benchmark::kMillisecond);

} // namespace
