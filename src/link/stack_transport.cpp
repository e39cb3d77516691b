#include "link/stack_transport.h"

#include "link/irda/irda_stack.h"
#include "link/irda/serial_port.h"
#include "link/irda/usb_bridge.h"

namespace dm {

namespace {

using Clock = std::chrono::steady_clock;

// One discovery takes six slots and its final frame after up to half a second of silence.
constexpr std::chrono::seconds kDiscoveryAllowance{4};

} // namespace

StackTransport::StackTransport(std::unique_ptr<irda::IrdaStack> stack, const LinkTimeouts& timeouts)
    : stack_(std::move(stack)), timeouts_(timeouts) {}

StackTransport::~StackTransport() = default;

DiscoveryStart StackTransport::openDiscovery() {
    return stack_->portError().empty() ? DiscoveryStart::Ok : DiscoveryStart::SocketFailed;
}

bool StackTransport::list(std::vector<DeviceId>* devices) {
    std::vector<irda::DiscoveredDevice> found;
    std::string error;
    if (!stack_->discover(&found, Clock::now() + kDiscoveryAllowance, &error)) {
        // Only a port that failed ends discovery; a slow round keeps what was known.
        if (!stack_->portError().empty())
            return false;
        *devices = last_;
        return true;
    }
    devices->clear();
    for (const auto& d : found)
        devices->push_back(irda::DeviceIdFromAddress(d.address));
    return true;
}

bool StackTransport::enumerate(std::vector<DeviceId>* devices) {
    if (!list(devices))
        return false;
    last_ = *devices;
    return true;
}

bool StackTransport::waitForChange(std::vector<DeviceId>* devices, const StopSignal& stop) {
    for (;;) {
        if (stop.waitFor(timeouts_.rescan))
            return true;
        std::vector<DeviceId> now;
        if (!list(&now))
            return false;
        if (now != last_) {
            last_ = now;
            *devices = now;
            return true;
        }
    }
}

std::unique_ptr<Connection> StackTransport::connect(const DeviceId& device, const std::string& service,
                                                    std::string* error) {
    if (IsNoDevice(device)) {
        if (error)
            *error = "no dosimeter discovered";
        return nullptr;
    }
    return stack_->connect(irda::AddressFromDeviceId(device), service,
                           Clock::now() + connectTimeout(timeouts_.connect), error);
}

std::string StackTransport::name() const { return stack_->name(); }

bool StackTransport::startCapture(const std::string& path, std::string* error) {
    return stack_->startCapture(path, error);
}

void StackTransport::stopCapture() { stack_->stopCapture(); }

std::string StackTransport::linkError() const { return stack_->portError(); }

std::unique_ptr<Transport> MakeStackTransport(const std::string& linkName, const TransportOptions& options,
                                              std::string* error, bool* nameError) {
    std::string why;
    std::unique_ptr<irda::FramePort> port;
    if (linkName.rfind("sir:", 0) == 0) {
        const std::optional<irda::SirLinkOptions> sir = irda::ParseSirLink(linkName, &why);
        if (!sir) {
            if (nameError)
                *nameError = true;
            if (error)
                *error = why;
            return nullptr;
        }
        port = irda::OpenSirPort(*sir, &why);
    } else {
        const std::optional<std::string> bus = irda::ParseUsbIrdaLink(linkName, &why);
        if (!bus) {
            if (nameError)
                *nameError = true;
            if (error)
                *error = why;
            return nullptr;
        }
        port = irda::OpenUsbIrdaPort(*bus, &why);
    }
    if (!port) {
        if (error)
            *error = why;
        return nullptr;
    }
    irda::StackOptions so;
    so.receivedFolder = options.receivedFolder;
    so.capturePath = options.capturePath;
    so.timeouts = options.timeouts;
    so.log = options.log;
    std::unique_ptr<irda::IrdaStack> stack = irda::IrdaStack::Start(std::move(port), so, &why);
    if (!stack) {
        if (error)
            *error = why;
        return nullptr;
    }
    return std::make_unique<StackTransport>(std::move(stack), options.timeouts);
}

} // namespace dm
