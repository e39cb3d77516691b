#pragma once
// The few socket calls the simulator needs, the same on POSIX and on Winsock. A
// namespace of its own keeps them apart from the device link's socket helpers.
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace dm::simnet {

#ifdef _WIN32
using SocketHandle = SOCKET;
using PollEntry = WSAPOLLFD;
inline const SocketHandle kNoSocket = INVALID_SOCKET;
constexpr int kSendFlags = 0;

inline bool StartSocketLayer() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}
inline void CloseSocket(SocketHandle s) {
    ::closesocket(s);
}
inline int LastError() {
    return ::WSAGetLastError();
}
inline bool IsRetry(int e) {
    return e == WSAEWOULDBLOCK || e == WSAEINTR;
}
inline bool IsInterrupted(int e) {
    return e == WSAEINTR;
}
inline bool IsAbortedConnection(int e) {
    return e == WSAECONNABORTED || e == WSAECONNRESET;
}
inline std::string ErrorText(int e) {
    return "socket error " + std::to_string(e);
}
inline int Poll(PollEntry* fds, unsigned count, int timeoutMs) {
    return ::WSAPoll(fds, count, timeoutMs);
}
inline void SetNonBlocking(SocketHandle s) {
    u_long on = 1;
    ::ioctlsocket(s, FIONBIO, &on);
}
#else
using SocketHandle = int;
using PollEntry = pollfd;
inline const SocketHandle kNoSocket = -1;
constexpr int kSendFlags = MSG_NOSIGNAL;

inline bool StartSocketLayer() {
    return true;
}
inline void CloseSocket(SocketHandle s) {
    ::close(s);
}
inline int LastError() {
    return errno;
}
inline bool IsRetry(int e) {
    return e == EAGAIN || e == EWOULDBLOCK || e == EINTR;
}
inline bool IsInterrupted(int e) {
    return e == EINTR;
}
// A client that hung up before it was accepted: nothing wrong with the listener.
inline bool IsAbortedConnection(int e) {
    return e == ECONNABORTED || e == EPROTO || e == ECONNRESET;
}
inline std::string ErrorText(int e) {
    return std::strerror(e);
}
inline int Poll(PollEntry* fds, unsigned count, int timeoutMs) {
    return ::poll(fds, static_cast<nfds_t>(count), timeoutMs);
}
inline void SetNonBlocking(SocketHandle s) {
    const int flags = ::fcntl(s, F_GETFL, 0);
    if (flags >= 0)
        ::fcntl(s, F_SETFL, flags | O_NONBLOCK);
    ::fcntl(s, F_SETFD, FD_CLOEXEC);
}
#endif

inline long Receive(SocketHandle s, char* buffer, std::size_t size) {
    return static_cast<long>(::recv(s, buffer, static_cast<int>(size), 0));
}
inline long Send(SocketHandle s, const char* data, std::size_t size) {
    return static_cast<long>(::send(s, data, static_cast<int>(size), kSendFlags));
}

// A UDP socket on 127.0.0.1 connected to itself: another thread sends it a byte to wake
// a poll that includes it (a pipe would do on POSIX, but Winsock polls only sockets).
inline SocketHandle MakeWakeSocket(std::string* error) {
    const SocketHandle s = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (s == kNoSocket) {
        if (error)
            *error = "cannot make a socket (" + ErrorText(LastError()) + ")";
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
            *error = "cannot make the wake-up socket (" + ErrorText(LastError()) + ")";
        CloseSocket(s);
        return kNoSocket;
    }
    SetNonBlocking(s);
    return s;
}

} // namespace dm::simnet
