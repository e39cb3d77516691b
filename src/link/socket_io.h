#pragma once
// Thin, portable helpers over BSD sockets and WinSock: every blocking step waits with
// a time-out. Used by the transports only.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

namespace dm::net {

#ifdef _WIN32
using SocketHandle = SOCKET;
inline const SocketHandle kNoSocket = INVALID_SOCKET;
#else
using SocketHandle = int;
inline constexpr SocketHandle kNoSocket = -1;
#endif

// Starts the platform's socket layer (WinSock 1.1 on Windows) for the lifetime of the
// object; nothing to do elsewhere.
class SocketLayer {
public:
    SocketLayer();
    ~SocketLayer();
    SocketLayer(const SocketLayer&) = delete;
    SocketLayer& operator=(const SocketLayer&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

// The last socket error as text.
std::string LastSocketError();

void CloseSocket(SocketHandle s);

// Connects a fresh socket within the time-out; false (and the reason) on failure.
bool ConnectWithTimeout(SocketHandle s, const sockaddr* address, int addressSize,
                        std::chrono::milliseconds timeout, std::string* error);

// Sends all bytes, each wait for room limited by the time-out.
bool SendAll(SocketHandle s, const std::uint8_t* data, std::size_t size,
             std::chrono::milliseconds timeout);

// One receive of at most maxSize bytes after waiting at most the time-out for data:
// the count, 0 when the peer closed, -1 on failure or time-out.
long ReceiveSome(SocketHandle s, std::uint8_t* buffer, std::size_t maxSize,
                 std::chrono::milliseconds timeout);

} // namespace dm::net

#include "link/transport.h"

#include <memory>

namespace dm::net {

// A connected socket as a Connection; keeps the socket layer started while it lives.
class SocketConnection : public Connection {
public:
    SocketConnection(std::unique_ptr<SocketLayer> layer, SocketHandle s, const LinkTimeouts& timeouts)
        : layer_(std::move(layer)), socket_(s), timeouts_(timeouts) {}
    ~SocketConnection() override { close(); }
    bool send(const std::uint8_t* data, std::size_t size) override {
        return socket_ != kNoSocket && SendAll(socket_, data, size, timeouts_.send);
    }
    long receive(std::uint8_t* buffer, std::size_t maxSize) override {
        return socket_ == kNoSocket ? -1 : ReceiveSome(socket_, buffer, maxSize, timeouts_.receive);
    }
    void close() override {
        CloseSocket(socket_);
        socket_ = kNoSocket;
        layer_.reset();
    }

private:
    std::unique_ptr<SocketLayer> layer_;
    SocketHandle socket_;
    LinkTimeouts timeouts_;
};

} // namespace dm::net
