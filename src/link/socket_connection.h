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
    // A step's own time-out, cut to what is left before the command's deadline.
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
