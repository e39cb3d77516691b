#include "link/transport.h"

#include "link/irda_transport.h"
#include "link/tcp_transport.h"
#ifndef _WIN32
#include "link/stack_transport.h"
#endif

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

bool Transport::startCapture(const std::string&, std::string* error) {
    if (error)
        *error = "the link " + name() + " carries no IrDA frames to capture (only sir: and usb-irda links do)";
    return false;
}

std::unique_ptr<Transport> MakeTransport(const std::string& linkName, const LinkTimeouts& timeouts,
                                         std::string* error) {
    TransportOptions options;
    options.timeouts = timeouts;
    return MakeTransport(linkName, options, error);
}

std::unique_ptr<Transport> MakeTransport(const std::string& linkName, const TransportOptions& options,
                                         std::string* error, bool* nameError) {
    if (nameError)
        *nameError = false;
    const LinkTimeouts& timeouts = options.timeouts;
    if (linkName.rfind("sir:", 0) == 0 || linkName == "usb-irda" || linkName.rfind("usb-irda:", 0) == 0) {
#ifndef _WIN32
        return MakeStackTransport(linkName, options, error, nameError);
#else
        if (error)
            *error = "link '" + linkName + "' is not available on this system";
        return nullptr;
#endif
    }
    if (linkName == "irda")
        return MakeIrdaOrAdapterTransport(options);
    if (linkName.rfind("tcp:", 0) == 0) {
        std::string host;
        std::string port;
        if (SplitHostPort(linkName.substr(4), &host, &port))
            return std::make_unique<TcpTransport>(host, port, timeouts);
        if (error)
            *error = "link '" + linkName + "' is not tcp:HOST:PORT with a port from 1 to 65535";
        if (nameError)
            *nameError = true;
        return nullptr;
    }
    if (error)
        *error = "unknown link '" + linkName + "' (use irda, tcp:HOST:PORT, sir:PATH or usb-irda)";
    if (nameError)
        *nameError = true;
    return nullptr;
}

} // namespace dm
