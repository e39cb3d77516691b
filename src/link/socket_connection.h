#pragma once
// A connected socket as the link's Connection, each step bounded by the link's time-outs.
#include "link/socket_io.h"
#include "link/transport.h"

#include <algorithm>
#include <memory>
#include <optional>

namespace dm::net {

// Keeps the socket layer started while it lives.
class SocketConnection : public Connection {
public:
    SocketConnection(std::unique_ptr<SocketLayer> layer, SocketHandle s, const LinkTimeouts& timeouts)
        : layer_(std::move(layer)), socket_(s), timeouts_(timeouts) {}
    ~SocketConnection() override { close(); }
    // The whole answer to a request must come within one receive time-out, so a peer
    // that dribbles its answer byte by byte cannot hold the caller longer than that.
    bool send(const std::uint8_t* data, std::size_t size) override {
        if (socket_ == kNoSocket || !SendAll(socket_, data, size, timeouts_.send))
            return false;
        answerDue_ = std::chrono::steady_clock::now() + timeouts_.receive;
        return true;
    }
    long receive(std::uint8_t* buffer, std::size_t maxSize) override {
        if (socket_ == kNoSocket)
            return -1;
        auto timeout = timeouts_.receive;
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

private:
    std::unique_ptr<SocketLayer> layer_;
    SocketHandle socket_;
    LinkTimeouts timeouts_;
    std::optional<std::chrono::steady_clock::time_point> answerDue_;
};

} // namespace dm::net
