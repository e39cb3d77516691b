#pragma once
// The IrDA stack on a thread of its own: it sleeps in poll() on the port's descriptor and
// a wake-up descriptor, runs the layers (stack_engine.h) and their timers, and serves
// requests of other threads (discovery, outgoing OBEX streams, captures), each answered
// or given up by its deadline. Streams are dm::Connection objects any thread may use.
#include "link/irda/capture.h"
#include "link/irda/stack_engine.h"
#include "link/transport.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dm::irda {

struct StackOptions {
    // Where files pushed to us are written; empty: no OBEX service (unless store is set).
    std::string receivedFolder;
    // Another store for pushed objects (the simulated dosimeter's); overrides the folder.
    ObjectStore* store = nullptr;
    std::string capturePath;
    LapConfig lap;
    std::string deviceName = "Dosimeter manager";
    std::chrono::milliseconds replyQuiet{20000};
    LinkTimeouts timeouts;
    // One line per event; called on the stack's thread.
    std::function<void(const std::string&)> log;
};

class IrdaStack {
public:
    // Starts the thread over the port; nothing (and the reason) when the capture cannot
    // be written or the thread cannot start.
    static std::unique_ptr<IrdaStack> Start(std::unique_ptr<FramePort> port, StackOptions options, std::string* error);
    ~IrdaStack();
    IrdaStack(const IrdaStack&) = delete;
    IrdaStack& operator=(const IrdaStack&) = delete;

    // The devices in range, first device first; false with the reason when the port failed
    // or the deadline passed.
    bool discover(std::vector<DiscoveredDevice>* devices, SteadyTime deadline, std::string* error);
    // A stream to the device's className service; nothing (and why) on failure.
    std::unique_ptr<Connection> connect(std::uint32_t device, const std::string& className, SteadyTime deadline,
                                        std::string* error);

    bool startCapture(const std::string& path, std::string* error);
    void stopCapture();

    // Empty while the port works.
    std::string portError() const;
    std::string name() const { return name_; }
    std::size_t filesReceived() const;
    bool awaitingReply() const;

    // Runs fn on the stack's thread and waits for it (tests, the simulated dosimeter).
    void call(const std::function<void(StackEngine&)>& fn);

    struct Shared;

private:
    IrdaStack() = default;
    void run();

    std::shared_ptr<Shared> shared_;
    std::string name_;
    LinkTimeouts timeouts_;
};

// Link names of the stack: "sir:..." and "usb-irda[:BUS-ADDRESS]".
bool IsStackLinkName(const std::string& linkName);

// The device address as a DeviceId (its bytes as they go on the air) and back.
DeviceId DeviceIdFromAddress(std::uint32_t address);
std::uint32_t AddressFromDeviceId(const DeviceId& id);

} // namespace dm::irda
