#pragma once
// OBEX over TCP: a dosimeter (or an IrDA bridge, or the simulated dosimeter) at
// HOST:PORT. It counts as in range while it accepts TCP connections.
#include "link/transport.h"

#include <string>
#include <vector>

namespace dm {

class TcpTransport : public Transport {
public:
    // host and port as given in "tcp:HOST:PORT"; the address is resolved on each
    // connection.
    TcpTransport(std::string host, std::string port, const LinkTimeouts& timeouts);

    DiscoveryStart openDiscovery() override;
    bool enumerate(std::vector<DeviceId>* devices) override;
    bool waitForChange(std::vector<DeviceId>* devices, const StopSignal& stop) override;
    void closeDiscovery() override {}
    std::unique_ptr<Connection> connect(const DeviceId& device, const std::string& service,
                                        std::string* error) override;
    std::optional<DeviceId> fixedDevice() const override { return id_; }
    std::string name() const override;

    // Four non-zero bytes derived from host and port, so a restarted peer at the same
    // endpoint keeps its identifier.
    static DeviceId EndpointId(const std::string& host, const std::string& port);

private:
    bool probe();
    std::unique_ptr<Connection> open(std::chrono::milliseconds timeout, std::string* error);

    std::string host_;
    std::string port_;
    LinkTimeouts timeouts_;
    DeviceId id_;
    bool lastSeen_ = false;
};

// Splits "HOST:PORT" (HOST may be "[v6 address]"); false when malformed.
bool SplitHostPort(const std::string& text, std::string* host, std::string* port);

} // namespace dm
