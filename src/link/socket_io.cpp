#include "link/socket_io.h"

#include <cerrno>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace dm::net {

namespace {

#ifdef _WIN32
// select, not WSAPoll: older WSAPoll never reports a connect that failed. 1: ready,
// 0: time-out, -1: failure.
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
        const int n = Poll(&p, 1, Millis(timeout));
        if (n < 0 && IsInterrupted(errno))
            continue; // a signal is no reason to give up; the wait restarts once
        if (n < 0)
            return -1;
        return n == 0 ? 0 : 1;
    }
}
#endif

} // namespace

#ifdef _WIN32
SocketLayer::SocketLayer(std::uint16_t version) {
    WSADATA data;
    ok_ = WSAStartup(version, &data) == 0;
}
SocketLayer::~SocketLayer() {
    if (ok_)
        WSACleanup();
}

int LastError() { return WSAGetLastError(); }
std::string ErrorText(int error) { return "socket error " + std::to_string(error); }
bool IsRetry(int error) { return error == WSAEWOULDBLOCK || error == WSAEINTR; }
bool IsInterrupted(int error) { return error == WSAEINTR; }
bool IsAbortedConnection(int error) { return error == WSAECONNABORTED || error == WSAECONNRESET; }

void CloseSocket(SocketHandle s) {
    if (s != kNoSocket)
        closesocket(s);
}

bool SetNonBlocking(SocketHandle s) {
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}

long Send(SocketHandle s, const void* data, std::size_t size) {
    return ::send(s, static_cast<const char*>(data), static_cast<int>(size), 0);
}
long Receive(SocketHandle s, void* buffer, std::size_t size) {
    return ::recv(s, static_cast<char*>(buffer), static_cast<int>(size), 0);
}
int Poll(PollEntry* entries, unsigned count, int timeoutMs) { return WSAPoll(entries, count, timeoutMs); }
#else
SocketLayer::SocketLayer(std::uint16_t) : ok_(true) {}
SocketLayer::~SocketLayer() = default;

int LastError() { return errno; }
std::string ErrorText(int error) { return std::strerror(error); }
bool IsRetry(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }
bool IsInterrupted(int error) { return error == EINTR; }
bool IsAbortedConnection(int error) {
    return error == ECONNABORTED || error == EPROTO || error == ECONNRESET;
}

void CloseSocket(SocketHandle s) {
    if (s != kNoSocket)
        ::close(s);
}

bool SetNonBlocking(SocketHandle s) {
    const int flags = ::fcntl(s, F_GETFL, 0);
    const bool ok = flags >= 0 && ::fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
    ::fcntl(s, F_SETFD, FD_CLOEXEC);
    return ok;
}

// MSG_NOSIGNAL: a peer that hung up is an error to report, not a SIGPIPE to die of.
long Send(SocketHandle s, const void* data, std::size_t size) {
    return static_cast<long>(::send(s, data, size, MSG_NOSIGNAL));
}
long Receive(SocketHandle s, void* buffer, std::size_t size) {
    return static_cast<long>(::recv(s, buffer, size, 0));
}
int Poll(PollEntry* entries, unsigned count, int timeoutMs) {
    return ::poll(entries, static_cast<nfds_t>(count), timeoutMs);
}
#endif

std::string LastSocketError() { return ErrorText(LastError()); }

void SetNoDelay(SocketHandle s) {
    const int one = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

SocketHandle MakeWakeSocket(std::string* error) {
    const SocketHandle s = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (s == kNoSocket) {
        if (error)
            *error = "cannot make a socket (" + LastSocketError() + ")";
        return kNoSocket;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (error)
            *error = "cannot make the wake-up socket (" + LastSocketError() + ")";
        CloseSocket(s);
        return kNoSocket;
    }
    SetNonBlocking(s);
    return s;
}

bool ConnectWithTimeout(SocketHandle s, const sockaddr* address, int addressSize,
                        std::chrono::milliseconds timeout, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (!SetNonBlocking(s))
        return fail("cannot configure socket: " + LastSocketError());
#ifdef _WIN32
    if (::connect(s, address, addressSize) != 0) {
        if (LastError() != WSAEWOULDBLOCK)
#else
    if (::connect(s, address, static_cast<socklen_t>(addressSize)) != 0) {
        if (LastError() != EINPROGRESS)
#endif
            return fail("connect failed: " + LastSocketError());
        const int ready = WaitReady(s, true, timeout);
        if (ready == 0)
            return fail("connect timed out");
        if (ready < 0)
            return fail("connect failed: " + LastSocketError());
        int soError = 0;
        socklen_t len = sizeof soError;
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
        if (soError != 0)
            return fail("connect failed: " + ErrorText(soError));
    }
    return true; // the socket stays non-blocking; every later call waits first
}

bool SendAll(SocketHandle s, const std::uint8_t* data, std::size_t size,
             std::chrono::milliseconds timeout) {
    std::size_t sent = 0;
    while (sent < size) {
        if (WaitReady(s, true, timeout) != 1)
            return false;
        const long n = Send(s, data + sent, size - sent);
        if (n < 0) {
            if (IsRetry(LastError()))
                continue;
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

long ReceiveSome(SocketHandle s, std::uint8_t* buffer, std::size_t maxSize,
                 std::chrono::milliseconds timeout) {
    for (;;) {
        if (WaitReady(s, false, timeout) != 1)
            return -1;
        const long n = Receive(s, buffer, maxSize);
        if (n < 0) {
            if (IsRetry(LastError()))
                continue;
            return -1;
        }
        return n;
    }
}

} // namespace dm::net
