#pragma once
// The socket calls of the device link and of the simulated dosimeter, the same on POSIX
// and WinSock. Two ways to use them: the link's blocking steps, each waiting with a
// time-out (ConnectWithTimeout, SendAll, ReceiveSome), and single non-blocking calls for
// a caller that waits in its own poll with its own deadlines (Send, Receive, Poll).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#endif

namespace dm::net {

#ifdef _WIN32
using SocketHandle = SOCKET;
using PollEntry = WSAPOLLFD;
inline const SocketHandle kNoSocket = INVALID_SOCKET;
#else
using SocketHandle = int;
using PollEntry = pollfd;
inline constexpr SocketHandle kNoSocket = -1;
#endif

// WinSock versions to ask for: the link's IrDA sockets need only 1.1, polling many
// sockets at once (WSAPoll) wants 2.2.
inline constexpr std::uint16_t kWinSock11 = 0x0101;
inline constexpr std::uint16_t kWinSock22 = 0x0202;

// Starts the platform's socket layer for the lifetime of the object; nothing to do
// outside Windows.
class SocketLayer {
public:
    explicit SocketLayer(std::uint16_t version = kWinSock11);
    ~SocketLayer();
    SocketLayer(const SocketLayer&) = delete;
    SocketLayer& operator=(const SocketLayer&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

// The last socket error: its number, and any number as text.
int LastError();
std::string ErrorText(int error);
std::string LastSocketError();

// Worth trying again: no data or room yet, or a signal came.
bool IsRetry(int error);
bool IsInterrupted(int error);
// A client that hung up before it was accepted: nothing wrong with the listener.
bool IsAbortedConnection(int error);

void CloseSocket(SocketHandle s);

// Makes later calls on the socket return at once instead of blocking; on POSIX the
// socket is also kept from child processes. False when that failed.
bool SetNonBlocking(SocketHandle s);

// Sends each packet at once instead of holding small ones back to join them: requests
// and responses are small and strictly alternate.
void SetNoDelay(SocketHandle s);

// One send or receive on a non-blocking socket: the count (0 from Receive when the peer
// closed), or -1 with the reason in LastError().
long Send(SocketHandle s, const void* data, std::size_t size);
long Receive(SocketHandle s, void* buffer, std::size_t size);

// Waits for any of the entries within timeoutMs: the number ready, 0 on time-out, -1 on
// failure.
int Poll(PollEntry* entries, unsigned count, int timeoutMs);

// A UDP socket on 127.0.0.1 connected to itself: another thread sends it a byte to wake
// a poll that includes it (a pipe would do on POSIX, but WinSock polls only sockets).
SocketHandle MakeWakeSocket(std::string* error);

// Connects a fresh socket within the time-out; false (and the reason) on failure. The
// socket is left non-blocking.
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
