// Linux IrDA through the old kernel socket interface. Current kernels no longer ship
// it and distributions no longer ship its header, so the few structures and constants
// used are declared here as that interface defines them.
#include "link/irda_transport.h"

#include "link/socket_connection.h"

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <unistd.h>

namespace dm {

namespace {

constexpr int kAfIrda = 23;
constexpr int kSolIrlmp = 266;
constexpr int kIrlmpEnumDevices = 1;
constexpr std::size_t kDeviceListBytes = 256;

struct sockaddr_irda {
    sa_family_t sir_family;
    std::uint8_t sir_lsap_sel;
    std::uint32_t sir_addr;
    char sir_name[25];
};

struct irda_device_info {
    std::uint32_t saddr;
    std::uint32_t daddr;
    char info[22];
    std::uint8_t charset;
    std::uint8_t hints[2];
};

struct irda_device_list {
    std::uint32_t len;
    irda_device_info dev[1];
};

class LinuxIrdaTransport : public Transport {
public:
    explicit LinuxIrdaTransport(const LinkTimeouts& timeouts) : timeouts_(timeouts) {}
    ~LinuxIrdaTransport() override { closeDiscovery(); }

    DiscoveryStart openDiscovery() override {
        socket_ = ::socket(kAfIrda, SOCK_STREAM, 0);
        return socket_ < 0 ? DiscoveryStart::SocketFailed : DiscoveryStart::Ok;
    }

    bool enumerate(std::vector<DeviceId>* devices) override {
        if (!list(devices))
            return false;
        last_ = *devices;
        return true;
    }

    // The kernel interface has no wait for a change of the list, so the list is read
    // again every rescan interval until it differs.
    bool waitForChange(std::vector<DeviceId>* devices, const StopSignal& stop) override {
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

    void closeDiscovery() override {
        if (socket_ >= 0)
            ::close(socket_);
        socket_ = -1;
    }

    std::unique_ptr<Connection> connect(const DeviceId& device, const std::string& service,
                                        std::string* error) override {
        if (IsNoDevice(device)) {
            if (error)
                *error = "no dosimeter discovered";
            return nullptr;
        }
        const int s = ::socket(kAfIrda, SOCK_STREAM, 0);
        if (s < 0) {
            if (error)
                *error = "no IrDA socket: " + net::LastSocketError();
            return nullptr;
        }
        sockaddr_irda address{};
        address.sir_family = kAfIrda;
        std::memcpy(&address.sir_addr, device.data(), 4);
        std::strncpy(address.sir_name, service.c_str(), sizeof address.sir_name - 1);
        if (!net::ConnectWithTimeout(s, reinterpret_cast<const sockaddr*>(&address),
                                     sizeof address, connectTimeout(timeouts_.connect), error)) {
            net::CloseSocket(s);
            return nullptr;
        }
        return std::make_unique<net::SocketConnection>(nullptr, s, timeouts_);
    }

    std::string name() const override { return "irda"; }

private:
    bool list(std::vector<DeviceId>* devices) {
        devices->clear();
        alignas(irda_device_list) unsigned char buffer[kDeviceListBytes] = {};
        socklen_t size = sizeof buffer;
        if (::getsockopt(socket_, kSolIrlmp, kIrlmpEnumDevices, buffer, &size) != 0)
            return errno == EAGAIN; // the kernel's way of saying "no device in range"
        irda_device_list header;
        std::memcpy(&header.len, buffer, sizeof header.len);
        const std::size_t fit =
            (size - offsetof(irda_device_list, dev)) / sizeof(irda_device_info);
        for (std::size_t i = 0; i < header.len && i < fit; ++i) {
            irda_device_info info;
            std::memcpy(&info, buffer + offsetof(irda_device_list, dev) + i * sizeof info, sizeof info);
            DeviceId id;
            std::memcpy(id.data(), &info.daddr, 4);
            devices->push_back(id);
        }
        return true;
    }

    LinkTimeouts timeouts_;
    int socket_ = -1;
    std::vector<DeviceId> last_;
};

} // namespace

std::unique_ptr<Transport> MakeIrdaTransport(const LinkTimeouts& timeouts) {
    return std::make_unique<LinuxIrdaTransport>(timeouts);
}

} // namespace dm
