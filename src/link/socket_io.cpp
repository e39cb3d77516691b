#include "link/socket_io.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace dm::net {

namespace {

#ifdef _WIN32
// 1: ready, 0: time-out, -1: failure.
int WaitReady(SocketHandle s, bool forWrite, std::chrono::milliseconds timeout) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    fd_set errors;
    FD_ZERO(&errors);
    FD_SET(s, &errors);
    timeval tv{};
    tv.tv_sec = static_cast<long>(timeout.count() / 1000);
    tv.tv_usec = static_cast<long>((timeout.count() % 1000) * 1000);
    const int n = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, &errors, &tv);
    if (n == SOCKET_ERROR)
        return -1;
    if (n == 0)
        return 0;
    return FD_ISSET(s, &errors) && !FD_ISSET(s, &set) ? -1 : 1;
}

bool SetBlocking(SocketHandle s, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    return ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
}
#else
int Millis(std::chrono::milliseconds timeout) {
    const auto ms = timeout.count();
    return ms < 0 ? 0 : (ms > 0x7fffffff ? 0x7fffffff : static_cast<int>(ms));
}

int WaitReady(SocketHandle s, bool forWrite, std::chrono::milliseconds timeout) {
    pollfd p{};
    p.fd = s;
    p.events = forWrite ? POLLOUT : POLLIN;
    for (;;) {
        const int n = ::poll(&p, 1, Millis(timeout));
        if (n < 0 && errno == EINTR)
            continue; // a signal is no reason to give up; the wait restarts once
        if (n < 0)
            return -1;
        return n == 0 ? 0 : 1;
    }
}

bool SetBlocking(SocketHandle s, bool blocking) {
    const int flags = ::fcntl(s, F_GETFL, 0);
    if (flags < 0)
        return false;
    return ::fcntl(s, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK)) == 0;
}
#endif

} // namespace

#ifdef _WIN32
SocketLayer::SocketLayer() {
    WSADATA data;
    ok_ = WSAStartup(0x0101, &data) == 0;
}
SocketLayer::~SocketLayer() { WSACleanup(); }

std::string LastSocketError() { return "socket error " + std::to_string(WSAGetLastError()); }

void CloseSocket(SocketHandle s) {
    if (s != kNoSocket)
        closesocket(s);
}
#else
SocketLayer::SocketLayer() : ok_(true) {}
SocketLayer::~SocketLayer() = default;

std::string LastSocketError() { return std::strerror(errno); }

void CloseSocket(SocketHandle s) {
    if (s != kNoSocket)
        ::close(s);
}
#endif

bool ConnectWithTimeout(SocketHandle s, const sockaddr* address, int addressSize,
                        std::chrono::milliseconds timeout, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (!SetBlocking(s, false))
        return fail("cannot configure socket: " + LastSocketError());
#ifdef _WIN32
    if (::connect(s, address, addressSize) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            return fail("connect failed: " + LastSocketError());
#else
    if (::connect(s, address, static_cast<socklen_t>(addressSize)) != 0) {
        if (errno != EINPROGRESS)
            return fail(std::string("connect failed: ") + std::strerror(errno));
#endif
        const int ready = WaitReady(s, true, timeout);
        if (ready == 0)
            return fail("connect timed out");
        if (ready < 0)
            return fail("connect failed: " + LastSocketError());
        int soError = 0;
#ifdef _WIN32
        int len = sizeof soError;
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
#else
        socklen_t len = sizeof soError;
        getsockopt(s, SOL_SOCKET, SO_ERROR, &soError, &len);
#endif
        if (soError != 0) {
#ifdef _WIN32
            return fail("connect failed: socket error " + std::to_string(soError));
#else
            return fail(std::string("connect failed: ") + std::strerror(soError));
#endif
        }
    }
    return true; // the socket stays non-blocking; every later call waits first
}

bool SendAll(SocketHandle s, const std::uint8_t* data, std::size_t size,
             std::chrono::milliseconds timeout) {
    std::size_t sent = 0;
    while (sent < size) {
        if (WaitReady(s, true, timeout) != 1)
            return false;
#ifdef _WIN32
        const int n = ::send(s, reinterpret_cast<const char*>(data + sent),
                             static_cast<int>(size - sent), 0);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEWOULDBLOCK)
                continue;
            return false;
        }
#else
        const ssize_t n = ::send(s, data + sent, size - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            return false;
        }
#endif
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

long ReceiveSome(SocketHandle s, std::uint8_t* buffer, std::size_t maxSize,
                 std::chrono::milliseconds timeout) {
    for (;;) {
        if (WaitReady(s, false, timeout) != 1)
            return -1;
#ifdef _WIN32
        const int n = ::recv(s, reinterpret_cast<char*>(buffer), static_cast<int>(maxSize), 0);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEWOULDBLOCK)
                continue;
            return -1;
        }
#else
        const ssize_t n = ::recv(s, buffer, maxSize, 0);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            return -1;
        }
#endif
        return static_cast<long>(n);
    }
}

} // namespace dm::net
