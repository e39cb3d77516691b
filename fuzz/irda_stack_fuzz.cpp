// Bytes from the line into the IrDA stack: the SIR decoder, IrLAP, IrLMP and IAS, Tiny
// TP and the OBEX receiver writing into a folder. The input is a list of pieces
// [length (2 bytes)] [flags] [bytes]: flag bit 0 wraps the piece as one frame with a good
// frame check (so the fuzzer reaches the upper layers), else the bytes go to the decoder
// as the line gave them; the other bits let time pass before the piece. Nothing may
// crash, memory stays bounded, and nothing is written outside the received-files folder.
#include "link/irda/sir_codec.h"
#include "link/irda/stack_engine.h"

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace {

using namespace dm::irda;

class FuzzClock : public LapClock {
public:
    SteadyTime now() const override { return now_; }
    void sleepUntil(SteadyTime t) override { now_ = std::max(now_, t); }
    SteadyTime now_ = SteadyTime{} + std::chrono::hours(1);
};

class FuzzPort : public FramePort {
public:
    explicit FuzzPort(FuzzClock& c) : clock_(c) {}
    int pollDescriptor() const override { return -1; }
    bool read(std::vector<Bytes>& frames, std::string*) override {
        frames.insert(frames.end(), pending.begin(), pending.end());
        pending.clear();
        return true;
    }
    bool send(const Bytes& frame, int, std::string*) override {
        if (frame.size() > 2048 + 2)
            std::abort(); // never more than the largest data size
        return true;
    }
    SteadyTime lastActivity() const override { return clock_.now_ - std::chrono::seconds(1); }
    std::vector<int> speeds() const override { return {9600, 115200}; }
    bool setSpeed(int baud, std::string*) override {
        speed_ = baud;
        return true;
    }
    int speed() const override { return speed_; }
    std::string name() const override { return "fuzz"; }
    std::vector<Bytes> pending;

private:
    FuzzClock& clock_;
    int speed_ = kContactSpeed;
};

const std::filesystem::path& Root() {
    static const std::filesystem::path root = [] {
        auto p = std::filesystem::temp_directory_path() / ("irda-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(p / "recv");
        return p;
    }();
    return root;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path& root = Root();
    FuzzClock clock;
    FuzzPort port(clock);
    FolderObjectStore store(root / "recv", 1 << 16);
    EngineOptions options;
    options.lap.address = 0x69623860; // the computer of the seed captures
    options.lap.seed = 1;
    options.store = &store;
    {
        StackEngine engine(port, clock, options, EngineEvents{});
        SirUnwrapper unwrapper;
        std::size_t at = 0;
        while (at + 3 <= size) {
            const std::size_t n = std::min<std::size_t>(std::size_t{data[at]} << 8 | data[at + 1], size - at - 3);
            const std::uint8_t flags = data[at + 2];
            const std::uint8_t* piece = data + at + 3;
            at += 3 + n;
            clock.now_ += std::chrono::milliseconds(10 * (flags >> 1));
            engine.onTimer();
            if (flags & 1) {
                Bytes wire;
                SirWrap(Bytes(piece, piece + n), 0, wire);
                unwrapper.feed(wire.data(), wire.size(), port.pending);
            } else {
                unwrapper.feed(piece, n, port.pending);
            }
            engine.onReadable();
        }
        clock.now_ += std::chrono::seconds(30);
        engine.onTimer();
    }
    // Only the folder may have been written to, and nothing half-received stays in it.
    for (const auto& e : std::filesystem::directory_iterator(root))
        if (e.path().filename() != "recv")
            std::abort();
    for (const auto& e : std::filesystem::directory_iterator(root / "recv")) {
        if (e.path().filename().string().rfind(".irda-", 0) == 0)
            std::abort();
        std::filesystem::remove(e.path());
    }
    return 0;
}
