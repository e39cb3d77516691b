#pragma once
// A loopback OBEX peer for tests and benchmarks: listens on 127.0.0.1, records every
// request packet byte for byte and answers each as its script says.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dm::test {

struct PeerAction {
    enum Kind { Reply, Silent, Hangup } kind = Reply;
    std::string bytes; // for Reply
};

inline PeerAction ReplyWith(std::string bytes) { return {PeerAction::Reply, std::move(bytes)}; }

// What a well-behaved OBEX server answers.
inline PeerAction StandardAnswer(std::size_t, std::uint8_t opcode) {
    switch (opcode) {
    case 0x80: return ReplyWith(std::string("\xA0\x00\x07\x10\x00\x80\x00", 7));
    case 0x02: return ReplyWith(std::string("\x90\x00\x03", 3));
    default: return ReplyWith(std::string("\xA0\x00\x03", 3));
    }
}

class ObexTestPeer {
public:
    // index counts the requests of one connection from 0.
    using Script = std::function<PeerAction(std::size_t index, std::uint8_t opcode)>;

    explicit ObexTestPeer(Script script = StandardAnswer) : script_(std::move(script)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 8);
        socklen_t len = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { run(); });
    }

    ~ObexTestPeer() {
        stop_ = true;
        thread_.join();
        ::close(listener_);
    }

    std::uint16_t port() const { return port_; }

    // Waits until `count` connections have ended, then returns the requests of all of
    // them, in order. A test that went wrong gets what there is after a generous bound
    // instead of hanging.
    std::vector<std::string> requests(std::size_t count = 1) {
        std::unique_lock lock(mutex_);
        done_.wait_for(lock, std::chrono::seconds(30), [&] { return sessions_ >= count; });
        return requests_;
    }

    // The requests recorded so far, without waiting.
    std::vector<std::string> recorded() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

    std::size_t sessions() {
        std::lock_guard lock(mutex_);
        return sessions_;
    }

private:
    bool waitReadable(int fd) {
        pollfd p{fd, POLLIN, 0};
        while (!stop_) {
            if (::poll(&p, 1, 20) > 0)
                return true;
        }
        return false;
    }

    // false on end of stream or stop.
    bool readExactly(int fd, std::string& out, std::size_t n) {
        while (n > 0) {
            if (!waitReadable(fd))
                return false;
            char buffer[4096];
            const ssize_t got = ::recv(fd, buffer, std::min(n, sizeof buffer), 0);
            if (got <= 0)
                return false;
            out.append(buffer, static_cast<std::size_t>(got));
            n -= static_cast<std::size_t>(got);
        }
        return true;
    }

    void session(int fd) {
        bool silent = false;
        for (std::size_t index = 0;; ++index) {
            std::string packet;
            if (!readExactly(fd, packet, 3))
                break;
            const std::size_t length =
                (std::size_t{static_cast<std::uint8_t>(packet[1])} << 8) | static_cast<std::uint8_t>(packet[2]);
            if (length > 3 && !readExactly(fd, packet, length - 3))
                break;
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(packet);
            }
            if (silent)
                continue;
            const PeerAction action = script_(index, static_cast<std::uint8_t>(packet[0]));
            if (action.kind == PeerAction::Hangup)
                break;
            if (action.kind == PeerAction::Silent) {
                silent = true;
                continue;
            }
            ::send(fd, action.bytes.data(), action.bytes.size(), MSG_NOSIGNAL);
        }
        ::close(fd);
        {
            std::lock_guard lock(mutex_);
            ++sessions_;
        }
        done_.notify_all();
    }

    void run() {
        while (waitReadable(listener_)) {
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd >= 0)
                session(fd);
        }
    }

    Script script_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable done_;
    std::vector<std::string> requests_;
    std::size_t sessions_ = 0;
};

} // namespace dm::test
