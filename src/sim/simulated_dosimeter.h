#pragma once
// A simulated dosimeter on a TCP port: it speaks OBEX like the real device's file
// service, acts on every "command.txt" pushed to it and beams its replies into a
// received-files folder. Runs on its own thread, which serves several clients at once,
// each with its own OBEX session, and acts on their commands one at a time.
#include "core/model.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace dm {

struct SimOptions {
    // History records at start (ignored when a state file is loaded). 120 by default.
    std::optional<std::size_t> records;
    // Keeps parameters and history across runs; empty: none.
    std::filesystem::path stateFile;
    // The catalogue whose keys are answered; empty: "Commands.lst" where the program
    // finds its data; missing: the built-in parameter list.
    std::filesystem::path catalogue;
    // Delay between a push and its replies, as a real device needs (one to three seconds).
    int replyDelayMs = 1500;
    // How long a client may stay silent before its connection is dropped.
    int receiveTimeoutMs = 10000;
    // How long one request may take from its first byte to its last (at most
    // receiveTimeoutMs): a client dribbling its bytes is cut off.
    int packetTimeoutMs = 5000;
    // Clients served at once; a connection beyond them is closed at once, with a log line.
    std::size_t maxConnections = 64;
    // Pseudo-random dose pattern; 0 picks one.
    std::uint64_t seed = 0;
    // One line per event (connections, commands, replies, faults); may be empty.
    // Called from the simulator's thread; it must not call stop().
    std::function<void(const std::string&)> log;
};

class SimDevice;
class ReplyFolder;

class SimulatedDosimeter {
public:

    SimulatedDosimeter(Model model, std::filesystem::path recvDir, SimOptions options = {});
    ~SimulatedDosimeter();
    SimulatedDosimeter(const SimulatedDosimeter&) = delete;
    SimulatedDosimeter& operator=(const SimulatedDosimeter&) = delete;

    // Reads the state file when one is set and exists; false with the reason when it is
    // unreadable or not a state of this model. start() calls it when it was not called.
    bool loadState(std::string* error);

    // Listens on host:port (port 0: any free port) and starts serving; in range.
    bool start(const std::string& host, std::uint16_t port, std::string* error);
    std::uint16_t port() const;

    // Out of range: the listening socket is closed (and the connections in progress are
    // dropped), so connection attempts fail. In range: listens again on the same port.
    // Takes effect before it returns (called from the log callback: right after it).
    void setInRange(bool inRange);
    bool inRange() const;

    // Stops serving, beams replies still waiting, saves the state. Idempotent.
    void stop();

    // Command files acted on so far.
    std::size_t commandsHandled() const { return commandsHandled_.load(); }
    // Why the last save of the state file failed (empty when it worked).
    std::string stateError() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::atomic<std::size_t> commandsHandled_{0};
};

} // namespace dm
