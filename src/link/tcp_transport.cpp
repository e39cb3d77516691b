#include "link/tcp_transport.h"

#include "core/numbers.h"
#include "link/socket_connection.h"

#include <cstring>

namespace dm {

bool SplitHostPort(const std::string& text, std::string* host, std::string* port) {
    std::string h;
    std::string p;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return false;
        h = text.substr(1, close - 1);
        p = text.substr(close + 2);
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string::npos)
            return false;
        h = text.substr(0, colon);
        p = text.substr(colon + 1);
        if (h.find(':') != std::string::npos)
            return false; // a bare v6 address needs brackets
    }
    if (h.empty() || !ParsePortNumber(p))
        return false;
    *host = h;
    *port = p;
    return true;
}

TcpTransport::TcpTransport(std::string host, std::string port, const LinkTimeouts& timeouts)
    : host_(std::move(host)), port_(std::move(port)), timeouts_(timeouts),
      id_(EndpointId(host_, port_)) {}

DeviceId TcpTransport::EndpointId(const std::string& host, const std::string& port) {
    // FNV-1a over "host:port"; a zero byte would read as "no device", so it becomes 1.
    std::uint32_t hash = 2166136261u;
    for (char c : host + ":" + port) {
        hash ^= static_cast<std::uint8_t>(c);
        hash *= 16777619u;
    }
    DeviceId id{};
    for (int i = 0; i < 4; ++i) {
        id[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(hash >> (8 * (3 - i)));
        if (id[static_cast<std::size_t>(i)] == 0)
            id[static_cast<std::size_t>(i)] = 1;
    }
    return id;
}

std::string TcpTransport::name() const { return "tcp:" + host_ + ":" + port_; }

DiscoveryStart TcpTransport::openDiscovery() { return DiscoveryStart::Ok; }

std::unique_ptr<Connection> TcpTransport::open(std::chrono::milliseconds timeout, std::string* error) {
    auto layer = std::make_unique<net::SocketLayer>();
    if (!layer->ok()) {
        if (error)
            *error = "the socket layer did not start";
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host_.c_str(), port_.c_str(), &hints, &found) != 0 || !found) {
        if (error)
            *error = "cannot resolve " + host_;
        return nullptr;
    }
    std::string lastError = "no address for " + host_;
    for (addrinfo* a = found; a; a = a->ai_next) {
        net::SocketHandle s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == net::kNoSocket) {
            lastError = "cannot create a socket: " + net::LastSocketError();
            continue;
        }
        if (net::ConnectWithTimeout(s, a->ai_addr, static_cast<int>(a->ai_addrlen), timeout, &lastError)) {
            freeaddrinfo(found);
            net::SetNoDelay(s);
            return std::make_unique<net::SocketConnection>(std::move(layer), s, timeouts_);
        }
        net::CloseSocket(s);
    }
    freeaddrinfo(found);
    if (error)
        *error = lastError;
    return nullptr;
}

bool TcpTransport::probe() { return open(timeouts_.probe, nullptr) != nullptr; }

bool TcpTransport::enumerate(std::vector<DeviceId>* devices) {
    lastSeen_ = probe();
    devices->clear();
    if (lastSeen_)
        devices->push_back(id_);
    return true;
}

bool TcpTransport::waitForChange(std::vector<DeviceId>* devices, const StopSignal& stop) {
    for (;;) {
        if (stop.waitFor(timeouts_.rescan))
            return true;
        const bool seen = probe();
        if (seen != lastSeen_) {
            lastSeen_ = seen;
            devices->clear();
            if (seen)
                devices->push_back(id_);
            return true;
        }
    }
}

std::unique_ptr<Connection> TcpTransport::connect(const DeviceId& device, const std::string&,
                                                  std::string* error) {
    if (device != id_) {
        if (error)
            *error = IsNoDevice(device) ? "no dosimeter discovered" : "unknown device";
        return nullptr;
    }
    return open(connectTimeout(timeouts_.connect), error);
}

} // namespace dm
