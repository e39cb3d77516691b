#pragma once
// Plain loopback sockets for the fault tests: a listener on 127.0.0.1 and a raw client,
// every wait bounded.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>

namespace dm::faults {

class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() { reset(); }
    Socket(Socket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Socket& operator=(Socket&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    int fd() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    // Waits at most `timeout` for data or the peer's close; true when ready.
    bool waitReadable(std::chrono::milliseconds timeout) const {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, static_cast<int>(timeout.count())) > 0;
    }
    // Up to max bytes: "" when nothing came in time or the peer closed.
    std::string receiveSome(std::size_t max, std::chrono::milliseconds timeout) const {
        if (!waitReadable(timeout))
            return {};
        std::string buffer(max, '\0');
        const ssize_t n = ::recv(fd_, buffer.data(), max, 0);
        buffer.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return buffer;
    }
    // Exactly n bytes, or less when the peer closed or went silent for `timeout`.
    std::string receiveExactly(std::size_t n, std::chrono::milliseconds timeout) const {
        std::string out;
        while (out.size() < n) {
            const std::string part = receiveSome(n - out.size(), timeout);
            if (part.empty())
                break;
            out += part;
        }
        return out;
    }
    // One whole OBEX packet by its length field; "" on close or silence.
    std::string receivePacket(std::chrono::milliseconds timeout) const {
        std::string head = receiveExactly(3, timeout);
        if (head.size() < 3)
            return {};
        const std::size_t length = (std::size_t{static_cast<unsigned char>(head[1])} << 8) |
                                   static_cast<unsigned char>(head[2]);
        if (length <= 3)
            return head;
        const std::string rest = receiveExactly(length - 3, timeout);
        return rest.size() == length - 3 ? head + rest : std::string();
    }
    bool sendAll(const std::string& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

private:
    int fd_ = -1;
};

// A listening socket on 127.0.0.1 at a free port.
class Listener {
public:
    Listener() {
        socket_ = Socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        int one = 1;
        ::setsockopt(socket_.fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(socket_.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(socket_.fd(), 8) != 0) {
            socket_.reset();
            return;
        }
        socklen_t len = sizeof a;
        ::getsockname(socket_.fd(), reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    std::uint16_t port() const { return port_; }
    // The next client, or an invalid socket when none came within the time-out.
    Socket accept(std::chrono::milliseconds timeout) const {
        if (!socket_.waitReadable(timeout))
            return Socket();
        return Socket(::accept4(socket_.fd(), nullptr, nullptr, SOCK_CLOEXEC));
    }

private:
    Socket socket_;
    std::uint16_t port_ = 0;
};

// A raw client connection to 127.0.0.1:port; invalid when it could not be made.
inline Socket ConnectLoopback(std::uint16_t port) {
    Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::connect(s.fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return Socket();
    int one = 1;
    ::setsockopt(s.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return s;
}

} // namespace dm::faults
