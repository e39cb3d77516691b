#include "sim/simulated_dosimeter.h"

#include "core/message_sink.h"
#include "core/text_file.h"
#include "params/catalogue.h"
#include "sim/obex_session.h"
#include "sim/reply_folder.h"
#include "sim/sim_device.h"

#include "sim/socket_shim.h"

#include <chrono>
#include <cstring>
#include <random>
#include <vector>

namespace dm {
namespace {

using simnet::kNoSocket;
using simnet::SocketHandle;

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

    enum class IoResult { Ok, Closed, TimedOut, Interrupted, Failed };

    SimulatedDosimeter& owner;
    Model model;
    SimOptions options;
    ReplyFolder folder;
    std::unique_ptr<SimDevice> device;
    bool stateLoaded = false;

    sockaddr_storage address{};
    socklen_t addressLength = 0;
    std::uint16_t boundPort = 0;
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
                *error = "cannot make a socket (" + simnet::ErrorText(simnet::LastError()) + ")";
            return false;
        }
#ifndef _WIN32
        // Lets the port be taken again at once after leaving range; on Windows the same
        // option would let another program steal a port in use.
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
#endif
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), addressLength) != 0 ||
            ::listen(fd, 4) != 0) {
            const int err = simnet::LastError();
            simnet::CloseSocket(fd);
            if (error)
                *error = simnet::ErrorText(err);
            return false;
        }
        simnet::SetNonBlocking(fd);
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
            simnet::CloseSocket(listenFd);
            listenFd = kNoSocket;
        }
    }

    void wake() {
        const char b = 1;
        simnet::Send(wakeSocket, &b, 1); // when the buffer is full a wake-up is pending anyway
    }

    void drainWake() {
        char buf[64];
        while (simnet::Receive(wakeSocket, buf, sizeof buf) > 0) {
        }
    }

    // Applies what other threads asked for. Returns true when a connection in progress
    // must end (stopping, or out of range).
    bool applyRequests() {
        std::lock_guard lock(mutex);
        if (!stopRequested) {
            if (wantInRange && listenFd == kNoSocket) {
                std::string why;
                if (openListener(&why))
                    log("in range again, listening on port " + std::to_string(boundPort));
                else
                    log("cannot listen again on port " + std::to_string(boundPort) + ": " + why);
            } else if (!wantInRange && listenFd != kNoSocket) {
                closeListener();
                log("out of range");
            }
        }
        isInRange = listenFd != kNoSocket;
        appliedNo = requestNo;
        applied.notify_all();
        return stopRequested || !wantInRange;
    }

    // Waits until fd is readable (or writable), the wake pipe fires, or the deadline.
    IoResult waitFor(SocketHandle fd, short events, Clock::time_point deadline) {
        for (;;) {
            pumpReplies(false);
            simnet::PollEntry fds[2] = {{fd, events, 0}, {wakeSocket, POLLIN, 0}};
            int timeout = MillisUntil(deadline);
            if (const auto next = msUntilNextReply(); next >= 0 && next < timeout)
                timeout = next;
            const int rc = simnet::Poll(fds, 2, timeout);
            if (rc < 0) {
                if (simnet::IsInterrupted(simnet::LastError()))
                    continue;
                return IoResult::Failed;
            }
            if (fds[1].revents) {
                drainWake();
                if (applyRequests())
                    return IoResult::Interrupted;
            }
            if (fds[0].revents)
                return IoResult::Ok;
            if (Clock::now() >= deadline)
                return IoResult::TimedOut;
        }
    }

    IoResult readExact(SocketHandle fd, char* out, std::size_t n, Clock::time_point deadline) {
        std::size_t done = 0;
        while (done < n) {
            const IoResult w = waitFor(fd, POLLIN, deadline);
            if (w != IoResult::Ok)
                return w;
            const long got = simnet::Receive(fd, out + done, n - done);
            if (got == 0)
                return IoResult::Closed;
            if (got < 0) {
                if (simnet::IsRetry(simnet::LastError()))
                    continue;
                return IoResult::Failed;
            }
            done += static_cast<std::size_t>(got);
        }
        return IoResult::Ok;
    }

    IoResult sendAll(SocketHandle fd, const std::string& bytes) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(options.receiveTimeoutMs);
        std::size_t done = 0;
        while (done < bytes.size()) {
            const long sent = simnet::Send(fd, bytes.data() + done, bytes.size() - done);
            if (sent < 0) {
                if (simnet::IsRetry(simnet::LastError())) {
                    const IoResult w = waitFor(fd, POLLOUT, deadline);
                    if (w != IoResult::Ok)
                        return w;
                    continue;
                }
                return IoResult::Failed;
            }
            done += static_cast<std::size_t>(sent);
        }
        return IoResult::Ok;
    }

    void serveClient(SocketHandle fd) {
        simnet::SetNonBlocking(fd);
        // Requests and responses are small and strictly alternate: send each at once.
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
        log("client connected");
        ObexServerSession session;
        const auto timeout = std::chrono::milliseconds(options.receiveTimeoutMs);
        for (;;) {
            // A packet must start, and then arrive whole, within the receive time-out.
            char head[3];
            const IoResult first = readExact(fd, head, 1, Clock::now() + timeout);
            if (first != IoResult::Ok) {
                if (first == IoResult::TimedOut)
                    log("client silent too long; connection dropped");
                break;
            }
            const auto deadline = Clock::now() + timeout;
            IoResult r = readExact(fd, head + 1, 2, deadline);
            if (r != IoResult::Ok) {
                log("connection ended inside a packet header");
                break;
            }
            const auto length = ObexServerSession::PacketLength(std::string_view(head, 3));
            if (!length) {
                log("packet length below 3; answered Bad Request and dropped the connection");
                sendAll(fd, ObexServerSession::ShortResponse(obex::kBadRequest));
                break;
            }
            std::string packet(head, 3);
            packet.resize(*length);
            r = readExact(fd, packet.data() + 3, *length - 3, deadline);
            if (r != IoResult::Ok) {
                log(r == IoResult::TimedOut ? "packet shorter than its length; connection dropped"
                                            : "connection ended inside a packet");
                break;
            }
            ObexStep step = session.handlePacket(packet);
            if (step.received)
                actOn(*step.received);
            const auto code = static_cast<std::uint8_t>(step.response[0]);
            if (code >= 0xC0)
                log("request " + Hex(static_cast<std::uint8_t>(packet[0])) + " answered " +
                    Hex(code));
            if (sendAll(fd, step.response) != IoResult::Ok || step.closeAfter)
                break;
        }
        log("client disconnected");
    }

    void actOn(const ObexObject& object) {
        std::string lower = object.name;
        for (char& ch : lower)
            if (ch >= 'A' && ch <= 'Z')
                ch = static_cast<char>(ch - 'A' + 'a');
        if (lower != "command.txt") {
            log("received \"" + object.name + "\" (" + std::to_string(object.body.size()) +
                " bytes); not a command file, ignored");
            return;
        }
        const auto replies = device->handleCommandFile(object.body, deviceClock());
        log("command file received (" + std::to_string(object.body.size()) + " bytes), " +
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
        for (;;) {
            applyRequests();
            {
                std::lock_guard lock(mutex);
                if (stopRequested)
                    break;
            }
            pumpReplies(false);
            simnet::PollEntry fds[2] = {{wakeSocket, POLLIN, 0}, {listenFd, POLLIN, 0}};
            const unsigned count = listenFd != kNoSocket ? 2 : 1;
            const int rc = simnet::Poll(fds, count, msUntilNextReply());
            if (rc < 0 && !simnet::IsInterrupted(simnet::LastError())) {
                log("poll failed: " + simnet::ErrorText(simnet::LastError()));
                break;
            }
            if (fds[0].revents)
                drainWake();
            if (count == 2 && (fds[1].revents & POLLIN)) {
                const SocketHandle client = ::accept(listenFd, nullptr, nullptr);
                if (client != kNoSocket) {
                    serveClient(client);
                    simnet::CloseSocket(client);
                }
            }
        }
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
    if (!simnet::StartSocketLayer()) {
        if (error)
            *error = "cannot start the socket layer";
        return false;
    }
    d.wakeSocket = simnet::MakeWakeSocket(error);
    if (d.wakeSocket == kNoSocket)
        return false;
    std::string why;
    if (!d.openListener(&why)) {
        simnet::CloseSocket(d.wakeSocket);
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
    simnet::CloseSocket(d.wakeSocket);
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
