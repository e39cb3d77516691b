#pragma once
// The program's own IrDA stack as the device link's transport: links "sir:PATH[?...]"
// (a serial adapter) and "usb-irda[:BUS-ADDRESS]" (a USB IrDA bridge). Discovery is IrLAP
// discovery, a connection is IrLAP connect, an IAS query and a Tiny TP connection carrying
// the OBEX bytes. While the link is open the stack also receives: files the dosimeter
// pushes go into the received-files folder, where the reply pickup takes them.
#include "link/transport.h"

#include <memory>
#include <string>

namespace dm {

namespace irda {
class IrdaStack;
}

class StackTransport : public Transport {
public:
    StackTransport(std::unique_ptr<irda::IrdaStack> stack, const LinkTimeouts& timeouts);
    ~StackTransport() override;

    DiscoveryStart openDiscovery() override;
    bool enumerate(std::vector<DeviceId>* devices) override;
    bool waitForChange(std::vector<DeviceId>* devices, const StopSignal& stop) override;
    void closeDiscovery() override {}
    std::unique_ptr<Connection> connect(const DeviceId& device, const std::string& service,
                                        std::string* error) override;
    std::string name() const override;
    bool startCapture(const std::string& path, std::string* error) override;
    void stopCapture() override;
    bool canCapture() const override { return true; }
    std::string linkError() const override;

    irda::IrdaStack& stack() { return *stack_; }

private:
    bool list(std::vector<DeviceId>* devices);

    std::unique_ptr<irda::IrdaStack> stack_;
    LinkTimeouts timeouts_;
    std::vector<DeviceId> last_;
};

// Opens the adapter the link names and starts the stack on it; nothing, and one line in
// error, when the name is malformed (*nameError set) or the adapter cannot be opened.
std::unique_ptr<Transport> MakeStackTransport(const std::string& linkName, const TransportOptions& options,
                                              std::string* error, bool* nameError);

} // namespace dm
