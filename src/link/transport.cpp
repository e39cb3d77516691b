#include "link/transport.h"

#include "link/irda_transport.h"
#include "link/tcp_transport.h"

#include <algorithm>

namespace dm {

std::chrono::milliseconds Transport::connectTimeout(std::chrono::milliseconds own) const {
    if (!connectDeadline_)
        return own;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*connectDeadline_ -
                                                                   std::chrono::steady_clock::now());
    return std::clamp(left, std::chrono::milliseconds::zero(), own);
}

std::unique_ptr<Transport> MakeTransport(const std::string& linkName, std::string* error) {
    return MakeTransport(linkName, LinkTimeouts{}, error);
}

std::unique_ptr<Transport> MakeTransport(const std::string& linkName, const LinkTimeouts& timeouts,
                                         std::string* error) {
    if (linkName == "irda")
        return MakeIrdaOrAdapterTransport(timeouts);
    if (linkName.rfind("tcp:", 0) == 0) {
        std::string host;
        std::string port;
        if (SplitHostPort(linkName.substr(4), &host, &port))
            return std::make_unique<TcpTransport>(host, port, timeouts);
        if (error)
            *error = "link '" + linkName + "' is not tcp:HOST:PORT with a port from 1 to 65535";
        return nullptr;
    }
    if (error)
        *error = "unknown link '" + linkName + "' (use irda or tcp:HOST:PORT)";
    return nullptr;
}

} // namespace dm
