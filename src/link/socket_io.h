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

#include <algorithm>
#include <memory>
#include <optional>

namespace dm::net {

// A connected socket as a Connection; keeps the socket layer started while it lives.
class SocketConnection : public Connection {
public:
    SocketConnection(std::unique_ptr<SocketLayer> layer, SocketHandle s, const LinkTimeouts& timeouts)
        : layer_(std::move(layer)), socket_(s), timeouts_(timeouts) {}
    ~SocketConnection() override { close(); }
    // The whole answer to a request must come within one receive time-out, so a peer
    // that dribbles its answer byte by byte cannot hold the caller longer than that.
    bool send(const std::uint8_t* data, std::size_t size) override {
        if (socket_ == kNoSocket)
            return false;
        const auto sendTimeout = capped(timeouts_.send);
        if (sendTimeout <= std::chrono::milliseconds::zero() || !SendAll(socket_, data, size, sendTimeout))
            return false;
        answerDue_ = std::chrono::steady_clock::now() + timeouts_.receive;
        if (deadline_)
            answerDue_ = std::min(*answerDue_, *deadline_);
        return true;
    }
    long receive(std::uint8_t* buffer, std::size_t maxSize) override {
        if (socket_ == kNoSocket)
            return -1;
        auto timeout = capped(timeouts_.receive);
        if (timeout <= std::chrono::milliseconds::zero())
            return -1;
        if (answerDue_) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                *answerDue_ - std::chrono::steady_clock::now());
            if (left <= std::chrono::milliseconds::zero())
                return -1;
            timeout = std::min(timeout, left);
        }
        return ReceiveSome(socket_, buffer, maxSize, timeout);
    }
    void close() override {
        CloseSocket(socket_);
        socket_ = kNoSocket;
        layer_.reset();
    }
    void setDeadline(std::chrono::steady_clock::time_point deadline) override { deadline_ = deadline; }

private:
    std::chrono::milliseconds capped(std::chrono::milliseconds own) const {
        if (!deadline_)
            return own;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline_ - std::chrono::steady_clock::now());
        return std::min(own, left);
    }

    std::unique_ptr<SocketLayer> layer_;
    SocketHandle socket_;
    LinkTimeouts timeouts_;
    std::optional<std::chrono::steady_clock::time_point> answerDue_;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
};

} // namespace dm::net
