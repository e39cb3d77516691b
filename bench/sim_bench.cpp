// How much the simulated dosimeter costs: composing replies, growing a long history,
// and a whole push over loopback.
#include "sim/sim_device.h"
#include "sim/simulated_dosimeter.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

void BM_ParameterReply(benchmark::State& state) {
    dm::SimDevice device(dm::Model::Krt17a, "", 1);
    device.fillHistory(100);
    for (auto _ : state)
        benchmark::DoNotOptimize(device.parameterReply(true));
}
BENCHMARK(BM_ParameterReply);

void BM_ArchiveReplyFullHistory(benchmark::State& state) {
    dm::SimDevice device(dm::Model::Krt17a, "", 1);
    device.fillHistory(dm::DoseMeter::kHistoryCapacity);
    for (auto _ : state)
        benchmark::DoNotOptimize(device.archiveReply());
}
BENCHMARK(BM_ArchiveReplyFullHistory)->Unit(benchmark::kMillisecond);

// Catching up a day of running time, as after a day without any command.
void BM_AdvanceOneDay(benchmark::State& state) {
    for (auto _ : state) {
        dm::SimDevice device(dm::Model::Krt17a, "", 1);
        device.advanceTo(86400);
        benchmark::DoNotOptimize(device.meter().counters().totalDose);
    }
}
BENCHMARK(BM_AdvanceOneDay)->Unit(benchmark::kMicrosecond);

void BM_SettingsFile(benchmark::State& state) {
    dm::SimDevice device(dm::Model::Krt17a, "", 1);
    const std::string file = "rate_threshold = 1.000E-05\r\ndose_threshold = 1.000E-03\r\n"
                             "cfg_select_sound = dose\r\ncfg_type_of_signal = fixed\r\n"
                             "limit_fixed = 1.000E-04\r\n\r\nget_parameters=255\r\n#\r\n";
    for (auto _ : state)
        benchmark::DoNotOptimize(device.handleCommandFile(file, device.clock()));
}
BENCHMARK(BM_SettingsFile);

std::string Be16(std::size_t v) {
    return std::string{static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}

bool Exchange(int fd, const std::string& packet, std::size_t max) {
    if (::send(fd, packet.data(), packet.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(packet.size()))
        return false;
    char buf[64];
    return ::recv(fd, buf, std::min(max, sizeof buf), 0) > 0;
}

// One push of "get_parameters=255" as the manager makes it, answered and (first argument
// 1) its reply written to the folder with reply delay 0, or (0) pushed under another
// name, so nothing is written: the OBEX exchange alone. The second argument is the number
// of idle clients held connected meanwhile, which the simulator serves beside the push.
void BM_PushOverLoopback(benchmark::State& state) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("dm-sim-bench-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    dm::SimOptions options;
    options.replyDelayMs = 0;
    options.seed = 1;
    dm::SimulatedDosimeter sim(dm::Model::Krt17a, dir, options);
    if (!sim.start("127.0.0.1", 0, nullptr)) {
        state.SkipWithError("cannot start the simulator");
        return;
    }
    const std::string text = "get_parameters=255\r\n#\r\n";
    std::string name;
    for (char c : std::string(state.range(0) ? "command.txt" : "unrelated.t"))
        name += std::string{'\0', c};
    name += std::string(2, '\0');
    const std::string connect("\x80\x00\x07\x10\x00\x80\x00", 7);
    const std::string first = "\x02" + Be16(38) + "\x01" + Be16(27) + name + "\xC3" +
                              std::string(2, '\0') + Be16(text.size()) + "\x48" + Be16(3);
    const std::string final =
        "\x82" + Be16(text.size() + 6) + "\x49" + Be16(text.size() + 3) + text;
    const std::string disconnect("\x81\x00\x03", 3);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(sim.port());
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<int> idle;
    for (long i = 0; i < state.range(1); ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
            idle.push_back(fd);
        else
            ::close(fd);
    }
    for (auto _ : state) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            !Exchange(fd, connect, 64) || !Exchange(fd, first, 3) || !Exchange(fd, final, 64) ||
            !Exchange(fd, disconnect, 64)) {
            ::close(fd);
            state.SkipWithError("push failed");
            break;
        }
        ::close(fd);
    }
    for (int fd : idle)
        ::close(fd);
    sim.stop();
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_PushOverLoopback)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 50})
    ->Unit(benchmark::kMicrosecond);

} // namespace
