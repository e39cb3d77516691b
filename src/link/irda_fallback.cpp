// The irda link on Linux: the kernel's IrDA sockets where it still has them, else the
// one IrDA adapter the program can drive itself, else a link that says what to do.
#include "link/irda_transport.h"

#include "link/irda/adapters.h"

#include <sys/socket.h>
#include <unistd.h>

namespace dm {

namespace {

bool KernelHasIrdaSockets() {
    constexpr int kAfIrda = 23;
    const int s = ::socket(kAfIrda, SOCK_STREAM, 0);
    if (s < 0)
        return false;
    ::close(s);
    return true;
}

// Discovery cannot start; connect says the same.
class UnavailableTransport : public Transport {
public:
    explicit UnavailableTransport(std::string reason) : reason_(std::move(reason)) {}
    DiscoveryStart openDiscovery() override { return DiscoveryStart::Unavailable; }
    bool enumerate(std::vector<DeviceId>*) override { return false; }
    bool waitForChange(std::vector<DeviceId>*, const StopSignal&) override { return false; }
    void closeDiscovery() override {}
    std::unique_ptr<Connection> connect(const DeviceId&, const std::string&, std::string* error) override {
        if (error)
            *error = reason_;
        return nullptr;
    }
    std::string name() const override { return "irda"; }
    std::string linkError() const override { return reason_; }

private:
    std::string reason_;
};

} // namespace

std::unique_ptr<Transport> MakeIrdaOrAdapterTransport(const TransportOptions& options) {
    if (KernelHasIrdaSockets())
        return MakeIrdaTransport(options.timeouts);
    const std::vector<irda::Adapter> adapters = irda::ListAdapters();
    if (const std::optional<irda::Adapter> one = irda::SoleAdapter(adapters)) {
        std::string error;
        if (std::unique_ptr<Transport> transport = MakeTransport(one->link, options, &error))
            return transport;
        return std::make_unique<UnavailableTransport>("no IrDA sockets in this kernel, and the adapter " + one->link +
                                                      " cannot be used: " + error);
    }
    return std::make_unique<UnavailableTransport>(
        adapters.empty() ? std::string(kMsgNoIrdaAdapter)
                         : "no IrDA sockets in this kernel, and " + std::to_string(adapters.size()) +
                               " ports may be IrDA adapters: choose one in the Link menu, or give it with --link "
                               "(dosimeter-cli adapters lists them)");
}

} // namespace dm
