#pragma once
// A small OBEX-over-TCP client for the simulator's tests: raw packets, and the push
// the manager makes (CONNECT, PUT in two packets, DISCONNECT), byte for byte.
#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace dm::test {

class TestConnection {
public:
    // Connects to 127.0.0.1:port; valid() tells whether it worked.
    explicit TestConnection(std::uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~TestConnection() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    TestConnection(const TestConnection&) = delete;
    TestConnection& operator=(const TestConnection&) = delete;

    bool valid() const { return fd_ >= 0; }

    bool send(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    // At most `max` bytes; nothing on time-out or error; an empty text when the peer
    // closed the connection.
    std::optional<std::string> receive(std::size_t max, int timeoutMs = 10000) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return std::nullopt;
        std::string buf(max, '\0');
        const ssize_t n = ::recv(fd_, buf.data(), max, 0);
        if (n < 0)
            return std::nullopt;
        buf.resize(static_cast<std::size_t>(n));
        return buf;
    }

    // True when the peer has closed the connection (reads up to the end).
    bool closedByPeer(int timeoutMs = 10000) {
        for (;;) {
            auto got = receive(4096, timeoutMs);
            if (!got)
                return false;
            if (got->empty())
                return true;
        }
    }

private:
    int fd_ = -1;
};

inline std::string Be16(std::size_t v) {
    return std::string{static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)};
}

inline std::string ConnectPacket() {
    return std::string("\x80\x00\x07\x10\x00\x80\x00", 7);
}
inline std::string DisconnectPacket() {
    return std::string("\x81\x00\x03", 3);
}

inline std::string NameHeader(const std::string& ascii) {
    std::string value;
    for (char c : ascii)
        value += std::string{'\0', c};
    value += std::string(2, '\0');
    return "\x01" + Be16(value.size() + 3) + value;
}

inline std::string LengthHeader(std::uint32_t length) {
    return std::string{static_cast<char>(0xC3), static_cast<char>(length >> 24),
                       static_cast<char>((length >> 16) & 0xFF),
                       static_cast<char>((length >> 8) & 0xFF), static_cast<char>(length & 0xFF)};
}

inline std::string BodyHeader(const std::string& data, bool end) {
    return std::string(1, end ? '\x49' : '\x48') + Be16(data.size() + 3) + data;
}

inline std::string Packet(std::uint8_t opcode, const std::string& headers) {
    return std::string(1, static_cast<char>(opcode)) + Be16(headers.size() + 3) + headers;
}

// The manager's first PUT: Name, Length and an empty Body.
inline std::string FirstPutPacket(const std::string& name, std::size_t length) {
    return Packet(0x02, NameHeader(name) + LengthHeader(static_cast<std::uint32_t>(length)) +
                            BodyHeader("", false));
}

// The manager's final PUT: the whole text in End-of-Body.
inline std::string FinalPutPacket(const std::string& text) {
    return Packet(0x82, BodyHeader(text, true));
}

struct PushCodes {
    std::vector<int> codes; // first byte of each response, in order; -1 for none
};

// Pushes `text` as "command.txt" exactly as the manager does, reading the first PUT's
// response as at most three bytes.
inline PushCodes PushLikeManager(std::uint16_t port, const std::string& text,
                                 const std::string& name = "command.txt") {
    PushCodes result;
    TestConnection c(port);
    if (!c.valid())
        return result;
    auto step = [&](const std::string& packet, std::size_t max) {
        if (!c.send(packet)) {
            result.codes.push_back(-1);
            return false;
        }
        auto got = c.receive(max);
        if (!got || got->empty()) {
            result.codes.push_back(-1);
            return false;
        }
        result.codes.push_back(static_cast<unsigned char>((*got)[0]));
        return true;
    };
    if (!step(ConnectPacket(), 32768) || result.codes.back() != 0xA0)
        return result;
    if (!step(FirstPutPacket(name, text.size()), 3))
        return result;
    if (!step(FinalPutPacket(text), 32768) || result.codes.back() == 0x90)
        return result;
    step(DisconnectPacket(), 32768);
    return result;
}

} // namespace dm::test
