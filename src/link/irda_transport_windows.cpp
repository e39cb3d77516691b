// WinSock IrDA: AF_IRDA stream sockets, device enumeration with IRLMP_ENUMDEVICES and
// the lazy-discovery wait SIO_LAZY_DISCOVERY.
#include "link/irda_transport.h"

#include "link/socket_connection.h"

#include <atomic>
#include <cstring>

#include <winsock2.h>
#include <af_irda.h>

namespace dm {

namespace {

constexpr std::size_t kDeviceListBytes = 256;

class WindowsIrdaTransport : public Transport {
public:
    explicit WindowsIrdaTransport(const LinkTimeouts& timeouts) : timeouts_(timeouts) {}
    ~WindowsIrdaTransport() override { closeDiscovery(); }

    DiscoveryStart openDiscovery() override {
        auto layer = std::make_unique<net::SocketLayer>();
        if (!layer->ok())
            return DiscoveryStart::SocketLayerFailed;
        layer_ = std::move(layer);
        const SOCKET s = ::socket(AF_IRDA, SOCK_STREAM, 0);
        if (s == INVALID_SOCKET)
            return DiscoveryStart::SocketFailed;
        socket_.store(s);
        return DiscoveryStart::Ok;
    }

    bool enumerate(std::vector<DeviceId>* devices) override {
        char buffer[kDeviceListBytes] = {};
        int size = sizeof buffer;
        if (getsockopt(socket_.load(), SOL_IRLMP, IRLMP_ENUMDEVICES, buffer, &size) == SOCKET_ERROR)
            return false;
        read(buffer, static_cast<std::size_t>(size), devices);
        return true;
    }

    // Blocks in the platform's lazy discovery; interruptDiscovery closes the socket to
    // end it when the owner shuts down.
    bool waitForChange(std::vector<DeviceId>* devices, const StopSignal& stop) override {
        char buffer[kDeviceListBytes] = {};
        DWORD size = 0;
        const int rc = WSAIoctl(socket_.load(), SIO_LAZY_DISCOVERY, nullptr, 0, buffer,
                                sizeof buffer, &size, nullptr, nullptr);
        if (stop.requested())
            return true;
        if (rc == SOCKET_ERROR)
            return false;
        read(buffer, size, devices);
        return true;
    }

    void interruptDiscovery() override {
        const SOCKET s = socket_.exchange(INVALID_SOCKET);
        net::CloseSocket(s);
    }

    void closeDiscovery() override {
        interruptDiscovery();
        layer_.reset();
    }

    std::unique_ptr<Connection> connect(const DeviceId& device, const std::string& service,
                                        std::string* error) override {
        auto layer = std::make_unique<net::SocketLayer>();
        if (!layer->ok()) {
            if (error)
                *error = "WSAStartup error";
            return nullptr;
        }
        if (IsNoDevice(device)) {
            if (error)
                *error = "no dosimeter discovered";
            return nullptr;
        }
        const SOCKET s = ::socket(AF_IRDA, SOCK_STREAM, 0);
        if (s == INVALID_SOCKET) {
            if (error)
                *error = "no IrDA socket: " + net::LastSocketError();
            return nullptr;
        }
        SOCKADDR_IRDA address{};
        address.irdaAddressFamily = AF_IRDA;
        std::memcpy(address.irdaDeviceID, device.data(), 4);
        std::strncpy(address.irdaServiceName, service.c_str(), sizeof address.irdaServiceName - 1);
        if (!net::ConnectWithTimeout(s, reinterpret_cast<const sockaddr*>(&address),
                                     sizeof address, connectTimeout(timeouts_.connect), error)) {
            net::CloseSocket(s);
            return nullptr;
        }
        return std::make_unique<net::SocketConnection>(std::move(layer), s, timeouts_);
    }

    std::string name() const override { return "irda"; }

private:
    static void read(const char* buffer, std::size_t size, std::vector<DeviceId>* devices) {
        devices->clear();
        if (size < sizeof(ULONG))
            return;
        ULONG count = 0;
        std::memcpy(&count, buffer, sizeof count);
        const std::size_t first = offsetof(DEVICELIST, Device);
        for (ULONG i = 0; i < count; ++i) {
            const std::size_t at = first + i * sizeof(IRDA_DEVICE_INFO);
            if (at + sizeof(IRDA_DEVICE_INFO) > size)
                break;
            DeviceId id;
            std::memcpy(id.data(), buffer + at + offsetof(IRDA_DEVICE_INFO, irdaDeviceID), 4);
            devices->push_back(id);
        }
    }

    LinkTimeouts timeouts_;
    std::atomic<SOCKET> socket_{INVALID_SOCKET};
    std::unique_ptr<net::SocketLayer> layer_; // while discovery is open
};

} // namespace

std::unique_ptr<Transport> MakeIrdaTransport(const LinkTimeouts& timeouts) {
    return std::make_unique<WindowsIrdaTransport>(timeouts);
}

std::unique_ptr<Transport> MakeIrdaOrAdapterTransport(const TransportOptions& options) {
    return MakeIrdaTransport(options.timeouts);
}

} // namespace dm
