#include "sim/simulated_dosimeter.h"

#include "core/message_sink.h"
#include "core/text_file.h"
#include "params/catalogue.h"
#include "sim/log_text.h"
#include "sim/obex_session.h"
#include "sim/reply_folder.h"
#include "sim/sim_device.h"

#include "link/socket_io.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

namespace dm {
namespace {

using net::kNoSocket;
using net::SocketHandle;

using Clock = std::chrono::steady_clock;

int MillisUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    return left > 60000 ? 60000 : static_cast<int>(left);
}

std::string Hex(std::uint8_t b) {
    static const char* digits = "0123456789ABCDEF";
    return std::string("0x") + digits[b >> 4] + digits[b & 15];
}

} // namespace

struct SimulatedDosimeter::Impl {
    Impl(SimulatedDosimeter& owner, Model model, std::filesystem::path recvDir, SimOptions options)
        : owner(owner), model(model), options(std::move(options)), folder(std::move(recvDir)) {}

    SimulatedDosimeter& owner;
    Model model;
    SimOptions options;
    ReplyFolder folder;
    std::unique_ptr<SimDevice> device;
    bool stateLoaded = false;

    sockaddr_storage address{};
    socklen_t addressLength = 0;
    std::uint16_t boundPort = 0;
    net::SocketLayer socketLayer{net::kWinSock22}; // WSAPoll wants WinSock 2.2
    SocketHandle listenFd = kNoSocket;
    SocketHandle wakeSocket = kNoSocket;
    std::thread thread;

    mutable std::mutex mutex;
    std::condition_variable applied;
    bool wantInRange = true;
    bool isInRange = false;
    bool stopRequested = false;
    unsigned long requestNo = 0;
    unsigned long appliedNo = 0;
    bool running = false;
    std::string stateError;

    struct Pending {
        Clock::time_point due;
        SimReply reply;
    };
    std::vector<Pending> pending;

    Clock::time_point runStart = Clock::now();
    long long clockAtStart = 0;

    void log(const std::string& line) const {
        if (options.log)
            options.log(line);
    }

    long long deviceClock() const {
        const auto s =
            std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - runStart).count();
        return clockAtStart + s;
    }

    void makeDevice() {
        if (device)
            return;
        std::uint64_t seed = options.seed;
        if (seed == 0)
            seed = std::random_device{}() % 1000000000ull + 1;
        std::string catalogue;
        const std::filesystem::path path =
            options.catalogue.empty() ? FindDataFile("Commands.lst") : options.catalogue;
        if (auto bytes = TryReadFile(path))
            catalogue = DecodeCatalogue(*bytes);
        else
            log("catalogue " + path.string() + " not found; answering the built-in parameter list");
        device = std::make_unique<SimDevice>(model, catalogue, seed);
    }

    bool loadState(std::string* error) {
        makeDevice();
        if (stateLoaded)
            return true;
        std::error_code ec;
        if (options.stateFile.empty() || !std::filesystem::exists(options.stateFile, ec)) {
            device->fillHistory(options.records.value_or(120));
            stateLoaded = true;
            return true;
        }
        std::string why = "cannot be read";
        const auto bytes = TryReadFile(options.stateFile);
        if (bytes && device->loadState(*bytes, &why)) {
            log("state loaded from " + options.stateFile.string());
            stateLoaded = true;
            return true;
        }
        if (error)
            *error = "state file " + options.stateFile.string() + ": " + why;
        return false;
    }

    bool saveState() {
        if (options.stateFile.empty() || !device)
            return true;
        std::string why;
        if (!WriteFileAtomically(options.stateFile, device->stateText(), &why)) {
            std::lock_guard lock(mutex);
            stateError = "cannot save state file " + options.stateFile.string() + ": " + why;
            log(stateError);
            return false;
        }
        std::lock_guard lock(mutex);
        stateError.clear(); // the last save counts
        return true;
    }

    // --- sockets -------------------------------------------------------------------

    bool resolve(const std::string& host, std::uint16_t port, std::string* error) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
        addrinfo* found = nullptr;
        const std::string service = std::to_string(port);
        const int rc =
            ::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found);
        if (rc != 0 || !found) {
            if (error)
                *error = "cannot resolve " + host + ": " + ::gai_strerror(rc);
            return false;
        }
        // Prefer IPv4: "localhost" then means the address a tcp link connects to first.
        const addrinfo* chosen = found;
        for (const addrinfo* a = found; a; a = a->ai_next) {
            if (a->ai_family == AF_INET) {
                chosen = a;
                break;
            }
        }
        std::memcpy(&address, chosen->ai_addr, chosen->ai_addrlen);
        addressLength = chosen->ai_addrlen;
        ::freeaddrinfo(found);
        return true;
    }

    bool openListener(std::string* error) {
        const SocketHandle fd = ::socket(address.ss_family, SOCK_STREAM, 0);
        if (fd == kNoSocket) {
            if (error)
                *error = "cannot make a socket (" + net::LastSocketError() + ")";
            return false;
        }
#ifndef _WIN32
        // Lets the port be taken again at once after leaving range; on Windows the same
        // option would let another program steal a port in use.
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
#endif
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), addressLength) != 0 ||
            ::listen(fd, 16) != 0) {
            const int err = net::LastError();
            net::CloseSocket(fd);
            if (error)
                *error = net::ErrorText(err);
            return false;
        }
        net::SetNonBlocking(fd);
        sockaddr_storage bound{};
        socklen_t len = sizeof bound;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len) == 0) {
            const std::uint16_t p = bound.ss_family == AF_INET6
                                        ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                        : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
            boundPort = p;
            // Listening again later must use the same port, also when 0 was asked for.
            if (address.ss_family == AF_INET6)
                reinterpret_cast<sockaddr_in6*>(&address)->sin6_port = htons(p);
            else
                reinterpret_cast<sockaddr_in*>(&address)->sin_port = htons(p);
        }
        listenFd = fd;
        return true;
    }

    void closeListener() {
        if (listenFd != kNoSocket) {
            net::CloseSocket(listenFd);
            listenFd = kNoSocket;
        }
    }

    void wake() {
        const char b = 1;
        net::Send(wakeSocket, &b, 1); // when the buffer is full a wake-up is pending anyway
    }

    void drainWake() {
        char buf[64];
        while (net::Receive(wakeSocket, buf, sizeof buf) > 0) {
        }
    }

    // Applies what other threads asked for. Returns true when the connections must end
    // (stopping, or out of range); they are closed before the asking thread goes on.
    bool applyRequests() {
        bool stopping = false;
        bool wanted = true;
        unsigned long ticket = 0;
        {
            std::lock_guard lock(mutex);
            stopping = stopRequested;
            wanted = wantInRange;
            ticket = requestNo;
        }
        std::string note;
        if (!stopping) {
            if (wanted && listenFd == kNoSocket) {
                std::string why;
                bool listening = false;
                {
                    std::lock_guard lock(mutex); // the port is read from other threads
                    listening = openListener(&why);
                }
                note = listening ? "in range again, listening on port " + std::to_string(boundPort)
                                 : "cannot listen again on port " + std::to_string(boundPort) +
                                       ": " + why;
            } else if (!wanted && listenFd != kNoSocket) {
                closeListener();
                note = "out of range";
            }
        }
        const bool endConnections = stopping || !wanted;
        const std::size_t dropped = endConnections ? connections.size() : 0;
        if (endConnections)
            closeAllConnections();
        {
            std::lock_guard lock(mutex);
            isInRange = listenFd != kNoSocket;
            appliedNo = ticket;
            applied.notify_all();
        }
        // Logged outside the lock: the callback may ask to change range.
        if (!note.empty())
            log(note);
        if (dropped)
            log(std::to_string(dropped) + " connection" + (dropped == 1 ? "" : "s") + " dropped");
        return endConnections;
    }

    // --- connections ---------------------------------------------------------------

    // One client: its own OBEX session, the request being received, the response being
    // sent. While a response is unsent nothing more is read, so a client that never
    // reads cannot make us queue without end.
    struct Connection {
        SocketHandle fd = kNoSocket;
        unsigned long number = 0;
        ObexServerSession session;
        std::string packet;     // the request received so far
        std::size_t length = 0; // its announced length, once its first three bytes are in
        std::string response;
        std::size_t sent = 0;
        bool closeAfterResponse = false;
        bool closed = false;
        // Silent: the idle allowance; inside a request: the whole-packet deadline;
        // sending: the time the client has to take the response.
        Clock::time_point deadline;
        std::string who() const { return "client " + std::to_string(number); }
    };
    std::vector<std::unique_ptr<Connection>> connections;
    unsigned long connectionsSoFar = 0;
    Clock::time_point acceptPausedUntil{};

    std::chrono::milliseconds idleAllowance() const {
        return std::chrono::milliseconds(options.receiveTimeoutMs);
    }
    std::chrono::milliseconds packetAllowance() const {
        return std::chrono::milliseconds(std::min(options.packetTimeoutMs, options.receiveTimeoutMs));
    }

    void closeConnection(Connection& c, const std::string& why) {
        if (c.closed)
            return;
        // Logged first, so whoever sees the connection end finds the reason written.
        log(c.who() + " " + why);
        net::CloseSocket(c.fd);
        c.fd = kNoSocket;
        c.closed = true;
    }

    // After a send or receive that failed: the connection ends unless it only has to
    // wait for the next poll.
    void closeUnlessRetry(Connection& c) {
        const int err = net::LastError();
        if (!net::IsRetry(err))
            closeConnection(c, "connection failed: " + net::ErrorText(err));
    }

    void closeAllConnections() {
        for (auto& c : connections) {
            if (!c->closed) {
                net::CloseSocket(c->fd);
                c->closed = true;
            }
        }
        connections.clear();
    }

    void acceptClients() {
        // A bounded number per round, so a storm of connections cannot starve the
        // clients already being served.
        for (int i = 0; i < 16; ++i) {
            const SocketHandle fd = ::accept(listenFd, nullptr, nullptr);
            if (fd == kNoSocket) {
                const int err = net::LastError();
                if (!net::IsRetry(err) && !net::IsAbortedConnection(err)) {
                    // Out of descriptors, say: the listener stays readable, so look again
                    // a little later instead of spinning.
                    log("cannot accept a connection: " + net::ErrorText(err));
                    acceptPausedUntil = Clock::now() + std::chrono::milliseconds(200);
                }
                return;
            }
            if (connections.size() >= options.maxConnections) {
                log("connection refused: already serving " + std::to_string(connections.size()) +
                    " clients, the most at once");
                net::CloseSocket(fd);
                continue;
            }
            net::SetNonBlocking(fd);
            net::SetNoDelay(fd);
            auto c = std::make_unique<Connection>();
            c->fd = fd;
            c->number = ++connectionsSoFar;
            c->deadline = Clock::now() + idleAllowance();
            log(c->who() + " connected (" + std::to_string(connections.size() + 1) + " at once)");
            connections.push_back(std::move(c));
        }
    }

    // Reads what the client has sent, up to the end of one request; acts on a whole one.
    void receiveFrom(Connection& c) {
        for (;;) {
            const std::size_t want =
                c.length ? c.length - c.packet.size() : obex::kPacketHeaderSize - c.packet.size();
            const std::size_t had = c.packet.size();
            c.packet.resize(had + want);
            const long got = net::Receive(c.fd, c.packet.data() + had, want);
            c.packet.resize(had + static_cast<std::size_t>(got > 0 ? got : 0));
            if (got == 0) {
                closeConnection(c, had == 0 ? "disconnected"
                                   : c.length ? "hung up inside a packet; connection closed"
                                              : "hung up inside a packet header; connection closed");
                return;
            }
            if (got < 0) {
                closeUnlessRetry(c);
                return;
            }
            if (had == 0)
                c.deadline = Clock::now() + packetAllowance();
            if (!c.length && c.packet.size() == obex::kPacketHeaderSize) {
                const auto length = ObexServerSession::PacketLength(c.packet);
                if (!length) {
                    log(c.who() + ": packet length below 3; answered Bad Request");
                    c.packet.clear();
                    respond(c, ObexServerSession::ShortResponse(obex::kBadRequest), true);
                    return;
                }
                c.length = *length;
            }
            if (c.length && c.packet.size() == c.length) {
                handleRequest(c);
                return;
            }
        }
    }

    void handleRequest(Connection& c) {
        const std::string packet = std::move(c.packet);
        c.packet.clear();
        c.length = 0;
        ObexStep step = c.session.handlePacket(packet);
        // One thread serves every connection, so commands are acted on one at a time,
        // in the order their pushes end, as the dosimeter itself would.
        if (step.received)
            actOn(c, *step.received);
        const auto code = static_cast<std::uint8_t>(step.response[0]);
        if (code >= obex::kFirstFailureCode)
            log(c.who() + ": request " + Hex(static_cast<std::uint8_t>(packet[0])) + " answered " +
                Hex(code));
        respond(c, std::move(step.response), step.closeAfter);
    }

    void respond(Connection& c, std::string response, bool closeAfter) {
        c.response = std::move(response);
        c.sent = 0;
        c.closeAfterResponse = closeAfter;
        c.deadline = Clock::now() + idleAllowance();
        sendTo(c);
    }

    void sendTo(Connection& c) {
        while (c.sent < c.response.size()) {
            const long n = net::Send(c.fd, c.response.data() + c.sent, c.response.size() - c.sent);
            if (n < 0) {
                closeUnlessRetry(c);
                return;
            }
            c.sent += static_cast<std::size_t>(n);
        }
        c.response.clear();
        c.sent = 0;
        if (c.closeAfterResponse) {
            closeConnection(c, "disconnected");
            return;
        }
        c.deadline = Clock::now() + idleAllowance();
    }

    void expire(Connection& c, Clock::time_point now) {
        if (c.closed || now < c.deadline)
            return;
        if (!c.response.empty())
            closeConnection(c, "does not take its response; connection dropped");
        else if (!c.packet.empty())
            closeConnection(c, "packet not whole within " +
                                   std::to_string(packetAllowance().count()) +
                                   " ms; connection dropped");
        else
            closeConnection(c, "silent too long; connection dropped");
    }

    int msUntilNextDeadline() const {
        int timeout = msUntilNextReply();
        for (const auto& c : connections) {
            const int left = MillisUntil(c->deadline);
            if (timeout < 0 || left < timeout)
                timeout = left;
        }
        if (acceptPausedUntil > Clock::now()) {
            const int left = MillisUntil(acceptPausedUntil);
            if (timeout < 0 || left < timeout)
                timeout = left;
        }
        return timeout;
    }

    void actOn(const Connection& c, const ObexObject& object) {
        std::string lower = object.name;
        for (char& ch : lower)
            if (ch >= 'A' && ch <= 'Z')
                ch = static_cast<char>(ch - 'A' + 'a');
        if (lower != "command.txt") {
            log(c.who() + ": received " + QuotedForLog(object.name) + " (" +
                std::to_string(object.body.size()) + " bytes); not a command file, ignored");
            return;
        }
        const auto replies = device->handleCommandFile(object.body, deviceClock());
        log(c.who() + ": command file received (" + std::to_string(object.body.size()) + " bytes), " +
            std::to_string(replies.size()) + " repl" + (replies.size() == 1 ? "y" : "ies") +
            " to beam");
        const auto due = Clock::now() + std::chrono::milliseconds(options.replyDelayMs);
        for (const auto& reply : replies)
            pending.push_back({due, reply});
        // With no delay the replies are in the folder before the push is answered.
        pumpReplies(false);
        saveState();
        owner.commandsHandled_.fetch_add(1);
    }

    int msUntilNextReply() const {
        if (pending.empty())
            return -1;
        return MillisUntil(pending.front().due);
    }

    void pumpReplies(bool all) {
        const auto now = Clock::now();
        std::size_t done = 0;
        while (done < pending.size() && (all || pending[done].due <= now)) {
            std::string error;
            const std::string name =
                folder.write(pending[done].reply.letter, pending[done].reply.bytes, &error);
            log(name.empty() ? error : "beamed " + name);
            ++done;
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(done));
    }

    void run() {
        std::vector<net::PollEntry> fds;
        for (;;) {
            applyRequests();
            {
                std::lock_guard lock(mutex);
                if (stopRequested)
                    break;
            }
            pumpReplies(false);
            fds.clear();
            fds.push_back({wakeSocket, POLLIN, 0});
            const bool listening = listenFd != kNoSocket && Clock::now() >= acceptPausedUntil;
            if (listening)
                fds.push_back({listenFd, POLLIN, 0});
            const std::size_t first = fds.size();
            for (const auto& c : connections)
                fds.push_back({c->fd, static_cast<short>(c->response.empty() ? POLLIN : POLLOUT), 0});
            const int rc =
                net::Poll(fds.data(), static_cast<unsigned>(fds.size()), msUntilNextDeadline());
            if (rc < 0) {
                const int err = net::LastError();
                if (net::IsInterrupted(err))
                    continue;
                log("poll failed: " + net::ErrorText(err));
                break;
            }
            if (fds[0].revents)
                drainWake();
            // Connections accepted below are not in this round's poll entries.
            const std::size_t polled = connections.size();
            for (std::size_t i = 0; i < polled; ++i) {
                Connection& c = *connections[i];
                if (!fds[first + i].revents)
                    continue;
                if (c.response.empty())
                    receiveFrom(c);
                else
                    sendTo(c);
            }
            const auto now = Clock::now();
            for (auto& c : connections)
                expire(*c, now);
            // Closed ones first, so a client that just left makes room for a newcomer.
            std::erase_if(connections, [](const auto& c) { return c->closed; });
            if (listening && (fds[1].revents & POLLIN))
                acceptClients();
        }
        closeAllConnections();
    }
};

SimulatedDosimeter::SimulatedDosimeter(Model model, std::filesystem::path recvDir,
                                       SimOptions options)
    : impl_(std::make_unique<Impl>(*this, model, std::move(recvDir), std::move(options))) {}

SimulatedDosimeter::~SimulatedDosimeter() {
    stop();
}

bool SimulatedDosimeter::loadState(std::string* error) {
    return impl_->loadState(error);
}

bool SimulatedDosimeter::start(const std::string& host, std::uint16_t port, std::string* error) {
    Impl& d = *impl_;
    if (d.running) {
        if (error)
            *error = "already running";
        return false;
    }
    if (!d.stateLoaded && !d.loadState(error))
        return false;
    // A state file that cannot be written is better found now than at the end of a run.
    if (!d.saveState()) {
        if (error)
            *error = d.stateError;
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(d.folder.folder(), ec);
    if (!std::filesystem::is_directory(d.folder.folder(), ec)) {
        if (error)
            *error = "cannot create the received-files folder " + d.folder.folder().string();
        return false;
    }
    if (!d.resolve(host, port, error))
        return false;
    if (!d.socketLayer.ok()) {
        if (error)
            *error = "cannot start the socket layer";
        return false;
    }
    d.wakeSocket = net::MakeWakeSocket(error);
    if (d.wakeSocket == kNoSocket)
        return false;
    std::string why;
    if (!d.openListener(&why)) {
        net::CloseSocket(d.wakeSocket);
        d.wakeSocket = kNoSocket;
        if (error)
            *error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + why;
        return false;
    }
    d.clockAtStart = d.device->clock();
    d.runStart = Clock::now();
    d.wantInRange = true;
    d.isInRange = true;
    d.stopRequested = false;
    d.running = true;
    d.thread = std::thread([&d] { d.run(); });
    return true;
}

std::uint16_t SimulatedDosimeter::port() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->boundPort;
}

void SimulatedDosimeter::setInRange(bool inRange) {
    Impl& d = *impl_;
    std::unique_lock lock(d.mutex);
    d.wantInRange = inRange;
    // From the simulator's own thread (the log callback) the loop applies it next round.
    if (!d.running || std::this_thread::get_id() == d.thread.get_id()) {
        ++d.requestNo;
        return;
    }
    const unsigned long ticket = ++d.requestNo;
    lock.unlock();
    d.wake();
    lock.lock();
    d.applied.wait(lock, [&] { return d.appliedNo >= ticket || !d.running; });
}

bool SimulatedDosimeter::inRange() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->isInRange;
}

void SimulatedDosimeter::stop() {
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.mutex);
        if (!d.running)
            return;
        d.stopRequested = true;
    }
    d.wake();
    if (d.thread.joinable())
        d.thread.join();
    {
        std::lock_guard lock(d.mutex);
        d.running = false;
        d.isInRange = false;
        d.closeListener();
        d.applied.notify_all();
    }
    net::CloseSocket(d.wakeSocket);
    d.wakeSocket = kNoSocket;
    d.pumpReplies(true);
    d.device->advanceTo(d.deviceClock());
    d.saveState();
}

std::string SimulatedDosimeter::stateError() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->stateError;
}

} // namespace dm
