#pragma once
// What the device link needs of a platform link to the dosimeter: finding devices in
// range (at once, and by waiting for the list to change) and a stream connection to
// one of them. Implementations: IrDA sockets, and OBEX over TCP for bridges, the
// simulated dosimeter and tests.
#include "link/stop_signal.h"

#include <array>
#include <chrono>
#include <functional>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dm {

// A 4-byte IrDA device identifier; all zero means none.
using DeviceId = std::array<std::uint8_t, 4>;

inline bool IsNoDevice(const DeviceId& id) { return id == DeviceId{}; }

// Every blocking step ends after its time-out, so a silent peer cannot freeze the
// caller for long. Tests shorten them.
struct LinkTimeouts {
    std::chrono::milliseconds connect{5000};
    std::chrono::milliseconds receive{10000}; // each receive call
    std::chrono::milliseconds send{5000};
    std::chrono::milliseconds probe{500};       // discovery's connect probe (TCP)
    std::chrono::milliseconds rescan{1000};     // between two looks at the device list
};

// One open stream to a device. Closing happens on destruction at the latest.
class Connection {
public:
    virtual ~Connection() = default;
    // Sends all bytes; false on failure or time-out.
    virtual bool send(const std::uint8_t* data, std::size_t size) = 0;
    // Receives at most maxSize bytes: the count (> 0), 0 when the peer closed, -1 on
    // failure or time-out.
    virtual long receive(std::uint8_t* buffer, std::size_t maxSize) = 0;
    virtual void close() = 0;
    // No send or receive waits past this point (the caller's own time-out), whatever
    // the link's time-outs allow.
    virtual void setDeadline(std::chrono::steady_clock::time_point /*deadline*/) {}
};

// Why discovery could not begin.
enum class DiscoveryStart {
    Ok,
    SocketLayerFailed, // the platform's socket layer did not start
    SocketFailed,      // no socket of the link's family (no IrDA support)
    Unavailable,       // the link cannot reach any adapter: linkError() says what to do
};

class Transport {
public:
    virtual ~Transport() = default;

    // --- discovery (called from the discovery thread only)
    virtual DiscoveryStart openDiscovery() = 0;
    // The devices in range now, first device first; false when the call failed.
    virtual bool enumerate(std::vector<DeviceId>* devices) = 0;
    // Blocks until the device list differs from the one last reported (by enumerate
    // or a previous wait), then reports it; false when the call failed. Returns true
    // with the list unchanged when stop was requested.
    virtual bool waitForChange(std::vector<DeviceId>* devices, const StopSignal& stop) = 0;
    // Called from another thread after stop was requested: cuts a blocking wait short
    // where the stop signal alone cannot.
    virtual void interruptDiscovery() {}
    virtual void closeDiscovery() = 0;

    // --- connection (user-interface thread)
    // A connection to the device's service; nothing (and the reason) on failure.
    virtual std::unique_ptr<Connection> connect(const DeviceId& device, const std::string& service,
                                                std::string* error) = 0;

    // The identifier of the one device this link can reach when it is known without
    // discovery (a TCP endpoint); nothing for links that must enumerate.
    virtual std::optional<DeviceId> fixedDevice() const { return std::nullopt; }

    // "irda" or "tcp:HOST:PORT", for messages.
    virtual std::string name() const = 0;

    // Captures every frame the link carries into a pcap file, for links that can (the
    // program's own IrDA stack); false with the reason for the others.
    virtual bool startCapture(const std::string& path, std::string* error);
    virtual void stopCapture() {}
    // Whether startCapture can work on this link (it may still fail on the file).
    virtual bool canCapture() const { return false; }
    // Why the link stopped working (its port unplugged or closed under the program), or
    // why it cannot be used at all (no adapter found); empty while it works or for links
    // that cannot tell. A link whose port goes away fails its next discovery call and
    // says so here; the device link reads it on the discovery thread after that call.
    virtual std::string linkError() const { return {}; }

    // While set, connect() waits no later than this point.
    void setConnectDeadline(std::optional<std::chrono::steady_clock::time_point> deadline) {
        connectDeadline_ = deadline;
    }

protected:
    // The link's own connect time-out, shortened to the deadline when one is set.
    std::chrono::milliseconds connectTimeout(std::chrono::milliseconds own) const;

private:
    std::optional<std::chrono::steady_clock::time_point> connectDeadline_;
};

// What a link may need beside its name.
struct TransportOptions {
    LinkTimeouts timeouts;
    // The received-files folder: links with a receiver of their own (sir:, usb-irda)
    // write the files pushed to them there. Empty: they receive nothing.
    std::string receivedFolder;
    // A pcap file every frame goes to from the start (sir:, usb-irda); empty: none.
    std::string capturePath;
    // One line per link event (connections, files received); called on the link's thread.
    std::function<void(const std::string&)> log;
};

// The transport for a link name: "irda" (the platform's IrDA sockets), "tcp:HOST:PORT",
// "sir:PATH[?dongle=NAME&speed=BAUD]" or "usb-irda[:BUS-ADDRESS]" (the program's own
// IrDA stack). Nothing, and the reason in error, for an unknown or malformed name
// (*nameError set when given) or an adapter that cannot be opened (one line naming it).
std::unique_ptr<Transport> MakeTransport(const std::string& linkName, std::string* error);
std::unique_ptr<Transport> MakeTransport(const std::string& linkName, const LinkTimeouts& timeouts,
                                         std::string* error);
std::unique_ptr<Transport> MakeTransport(const std::string& linkName, const TransportOptions& options,
                                         std::string* error, bool* nameError = nullptr);

} // namespace dm
