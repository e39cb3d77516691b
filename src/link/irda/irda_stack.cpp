#include "link/irda/irda_stack.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace dm::irda {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// What a stream's reader sees; guarded by the stack's mutex.
struct StreamBox {
    std::deque<std::uint8_t> in;
    bool closed = false;
    bool failed = false;      // ended by a failure, not by the peer's orderly close
    std::string why;
    std::optional<SteadyTime> drainedAt; // everything sent has gone out since then
    int sendsPending = 0;                // handed to the stack's thread, not yet queued
};

} // namespace

struct IrdaStack::Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::function<void()>> tasks;
    bool stopping = false;
    bool stopped = false;
    int wakeRead = -1;
    int wakeWrite = -1;
    std::map<int, std::shared_ptr<StreamBox>> boxes;
    std::string portError;
    std::size_t filesReceived = 0;
    bool awaitingReply = false;

    // Set before the thread starts, then touched only by it (and by the destructor after
    // it ended).
    SteadyLapClock clock;
    std::unique_ptr<FolderObjectStore> folderStore;
    CapturingPort* port = nullptr;
    std::unique_ptr<CapturingPort> ownedPort;
    std::unique_ptr<StackEngine> engine;
    std::thread thread;

    // Queues fn for the stack's thread; false once the stack has stopped.
    bool post(std::function<void()> fn) {
        {
            std::lock_guard lock(mutex);
            if (stopped)
                return false;
            tasks.push_back(std::move(fn));
        }
        wake();
        return true;
    }
    void wake() const {
        const char b = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeWrite, &b, 1); // a full pipe means a wake-up is pending
    }
    ~Shared() {
        if (wakeRead >= 0)
            ::close(wakeRead);
        if (wakeWrite >= 0)
            ::close(wakeWrite);
    }
};

namespace {

class StackConnection : public Connection {
public:
    StackConnection(std::shared_ptr<IrdaStack::Shared> shared, int id, std::shared_ptr<StreamBox> box,
                    const LinkTimeouts& timeouts)
        : shared_(std::move(shared)), id_(id), box_(std::move(box)), timeouts_(timeouts) {}
    ~StackConnection() override { close(); }

    bool send(const std::uint8_t* data, std::size_t size) override {
        {
            std::lock_guard lock(shared_->mutex);
            if (box_->closed)
                return false;
            box_->drainedAt.reset();
            ++box_->sendsPending;
        }
        auto bytes = std::make_shared<std::vector<std::uint8_t>>(data, data + size);
        auto* shared = shared_.get();
        const int id = id_;
        auto box = box_;
        return shared_->post([shared, id, bytes, box] {
            shared->engine->streamSend(id, bytes->data(), bytes->size());
            std::lock_guard lock(shared->mutex);
            --box->sendsPending;
        });
    }

    long receive(std::uint8_t* buffer, std::size_t maxSize) override {
        std::unique_lock lock(shared_->mutex);
        for (;;) {
            if (!box_->in.empty())
                break;
            if (box_->closed)
                return box_->failed ? -1 : 0;
            // The answer is due a receive time-out after our bytes have all gone out
            // (at 9600 baud a long request takes seconds on the line).
            SteadyTime due = SteadyTime::max();
            if (box_->drainedAt)
                due = *box_->drainedAt + timeouts_.receive;
            if (deadline_)
                due = std::min(due, *deadline_);
            const SteadyTime now = Clock::now();
            if (now >= due)
                return -1;
            shared_->changed.wait_until(lock, std::min(due, now + milliseconds(200)));
        }
        const std::size_t n = std::min(maxSize, box_->in.size());
        std::copy_n(box_->in.begin(), n, buffer);
        box_->in.erase(box_->in.begin(), box_->in.begin() + static_cast<long>(n));
        lock.unlock();
        auto* shared = shared_.get();
        const int id = id_;
        shared_->post([shared, id, n] { shared->engine->streamConsumed(id, n); });
        return static_cast<long>(n);
    }

    void close() override {
        if (closed_)
            return;
        closed_ = true;
        auto* shared = shared_.get();
        const int id = id_;
        shared_->post([shared, id] {
            shared->engine->closeStream(id);
            std::lock_guard lock(shared->mutex);
            shared->boxes.erase(id);
        });
    }

    void setDeadline(SteadyTime deadline) override { deadline_ = deadline; }

private:
    std::shared_ptr<IrdaStack::Shared> shared_;
    int id_;
    std::shared_ptr<StreamBox> box_;
    LinkTimeouts timeouts_;
    std::optional<SteadyTime> deadline_;
    bool closed_ = false;
};

} // namespace

std::unique_ptr<IrdaStack> IrdaStack::Start(std::unique_ptr<FramePort> port, StackOptions options, std::string* error) {
    std::unique_ptr<IrdaStack> stack(new IrdaStack());
    auto shared = std::make_shared<Shared>();
    stack->shared_ = shared;
    stack->name_ = port->name();
    stack->timeouts_ = options.timeouts;
    int fds[2];
    if (::pipe(fds) != 0) {
        if (error)
            *error = std::string("cannot make a wake-up pipe: ") + std::strerror(errno);
        return nullptr;
    }
    for (int fd : fds) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    shared->wakeRead = fds[0];
    shared->wakeWrite = fds[1];
    shared->ownedPort = std::make_unique<CapturingPort>(std::move(port));
    shared->port = shared->ownedPort.get();
    if (!options.capturePath.empty() && !shared->port->startCapture(options.capturePath, error))
        return nullptr;

    EngineOptions eo;
    eo.lap = options.lap;
    eo.deviceName = options.deviceName;
    eo.replyQuiet = options.replyQuiet;
    if (options.store) {
        eo.store = options.store;
    } else if (!options.receivedFolder.empty()) {
        shared->folderStore = std::make_unique<FolderObjectStore>(options.receivedFolder);
        eo.store = shared->folderStore.get();
    }
    Shared* s = shared.get();
    EngineEvents events;
    events.streamData = [s](int stream, const std::uint8_t* data, std::size_t size) {
        std::lock_guard lock(s->mutex);
        auto it = s->boxes.find(stream);
        if (it != s->boxes.end())
            it->second->in.insert(it->second->in.end(), data, data + size);
        s->changed.notify_all();
    };
    events.streamClosed = [s](int stream, const std::string& why) {
        std::lock_guard lock(s->mutex);
        auto it = s->boxes.find(stream);
        if (it != s->boxes.end()) {
            it->second->closed = true;
            it->second->why = why;
            it->second->failed = why != "the device ended the connection";
        }
        s->changed.notify_all();
    };
    events.log = options.log;
    shared->engine = std::make_unique<StackEngine>(*shared->port, shared->clock, eo, events);
    shared->thread = std::thread([s] {
        IrdaStack::Shared& sh = *s;
        std::vector<std::function<void()>> tasks;
        // Stopping, a link of ours is ended properly (a second at most), so the peer does
        // not wait out its time-out before it may beam.
        std::optional<SteadyTime> drainUntil;
        for (;;) {
            {
                std::lock_guard lock(sh.mutex);
                if (sh.stopping && !drainUntil)
                    drainUntil = Clock::now() + milliseconds(1000);
                tasks.assign(std::make_move_iterator(sh.tasks.begin()), std::make_move_iterator(sh.tasks.end()));
                sh.tasks.clear();
            }
            for (auto& t : tasks)
                t();
            tasks.clear();
            StackEngine& e = *sh.engine;
            if (drainUntil) {
                LapStation& st = e.station();
                if (st.state() == LapStation::State::Primary)
                    st.disconnect();
                if (!st.connected() || !st.primary() || Clock::now() >= *drainUntil || !e.portError().empty())
                    break;
            }
            e.onTimer();
            {
                std::lock_guard lock(sh.mutex);
                sh.portError = e.portError();
                sh.filesReceived = e.filesReceived();
                sh.awaitingReply = e.awaitingReply();
                for (auto& [id, box] : sh.boxes)
                    if (!box->drainedAt && box->sendsPending == 0 && e.streamQueued(id) == 0)
                        box->drainedAt = Clock::now();
                sh.changed.notify_all();
            }
            const SteadyTime due = e.deadline();
            int timeout = 1000;
            if (due != SteadyTime::max()) {
                const auto left = std::chrono::ceil<milliseconds>(due - Clock::now()).count();
                timeout = static_cast<int>(std::clamp<long long>(left, 0, 1000));
            }
            if (drainUntil)
                timeout = std::min(timeout, 50);
            pollfd fds[2] = {{sh.wakeRead, POLLIN, 0}, {sh.port->pollDescriptor(), POLLIN, 0}};
            const nfds_t count = e.portError().empty() && fds[1].fd >= 0 ? 2 : 1;
            const int rc = ::poll(fds, count, timeout);
            if (rc < 0 && errno != EINTR)
                std::this_thread::sleep_for(milliseconds(10));
            if (rc > 0 && fds[0].revents) {
                char buf[64];
                while (::read(sh.wakeRead, buf, sizeof buf) > 0) {
                }
            }
            if (rc > 0 && count == 2 && fds[1].revents)
                e.onReadable();
        }
    });
    return stack;
}

IrdaStack::~IrdaStack() {
    if (!shared_)
        return;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
    }
    shared_->wake();
    if (shared_->thread.joinable())
        shared_->thread.join();
    shared_->engine.reset();
    shared_->ownedPort.reset();
    std::lock_guard lock(shared_->mutex);
    shared_->stopped = true;
    for (auto& [id, box] : shared_->boxes) {
        box->closed = true;
        box->failed = true;
        box->why = "the IrDA stack stopped";
    }
    shared_->changed.notify_all();
}

bool IrdaStack::discover(std::vector<DiscoveredDevice>* devices, SteadyTime deadline, std::string* error) {
    struct Result {
        bool done = false;
        std::vector<DiscoveredDevice> devices;
        std::string error;
    };
    auto result = std::make_shared<Result>();
    Shared* s = shared_.get();
    if (!shared_->post([s, result] {
            s->engine->discover([s, result](const std::vector<DiscoveredDevice>& d, const std::string& e) {
                std::lock_guard lock(s->mutex);
                result->done = true;
                result->devices = d;
                result->error = e;
                s->changed.notify_all();
            });
        })) {
        if (error)
            *error = "the IrDA stack stopped";
        return false;
    }
    std::unique_lock lock(shared_->mutex);
    if (!shared_->changed.wait_until(lock, deadline, [&] { return result->done || shared_->stopped; })) {
        if (error)
            *error = "discovery did not end in time";
        return false;
    }
    if (!result->done || !result->error.empty()) {
        if (error)
            *error = result->done ? result->error : "the IrDA stack stopped";
        return false;
    }
    *devices = result->devices;
    return true;
}

std::unique_ptr<Connection> IrdaStack::connect(std::uint32_t device, const std::string& className, SteadyTime deadline,
                                               std::string* error) {
    struct Result {
        bool done = false;
        int stream = 0;
        std::string error;
        std::shared_ptr<StreamBox> box;
    };
    auto result = std::make_shared<Result>();
    Shared* s = shared_.get();
    if (!shared_->post([s, result, device, className, deadline] {
            s->engine->openStream(device, className, deadline, [s, result](int stream, const std::string& e) {
                std::lock_guard lock(s->mutex);
                result->done = true;
                result->stream = stream;
                result->error = e;
                if (stream) {
                    result->box = std::make_shared<StreamBox>();
                    s->boxes[stream] = result->box;
                }
                s->changed.notify_all();
            });
        })) {
        if (error)
            *error = "the IrDA stack stopped";
        return nullptr;
    }
    std::unique_lock lock(shared_->mutex);
    // The engine gives up by the deadline itself; the margin only covers a stuck thread.
    shared_->changed.wait_until(lock, deadline + milliseconds(2000), [&] { return result->done || shared_->stopped; });
    if (!result->done || !result->stream) {
        if (error)
            *error = result->done ? result->error : "the IrDA stack did not answer";
        return nullptr;
    }
    return std::make_unique<StackConnection>(shared_, result->stream, result->box, timeouts_);
}

bool IrdaStack::startCapture(const std::string& path, std::string* error) {
    return shared_->port->startCapture(path, error);
}

void IrdaStack::stopCapture() { shared_->port->stopCapture(); }

std::string IrdaStack::portError() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->portError;
}

std::size_t IrdaStack::filesReceived() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->filesReceived;
}

bool IrdaStack::awaitingReply() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->awaitingReply;
}

void IrdaStack::call(const std::function<void(StackEngine&)>& fn) {
    auto done = std::make_shared<bool>(false);
    Shared* s = shared_.get();
    if (!shared_->post([s, &fn, done] {
            fn(*s->engine);
            std::lock_guard lock(s->mutex);
            *done = true;
            s->changed.notify_all();
        }))
        return;
    std::unique_lock lock(shared_->mutex);
    shared_->changed.wait(lock, [&] { return *done || shared_->stopped; });
}

bool IsStackLinkName(const std::string& linkName) {
    return linkName.rfind("sir:", 0) == 0 || linkName == "usb-irda" || linkName.rfind("usb-irda:", 0) == 0;
}

DeviceId DeviceIdFromAddress(std::uint32_t address) {
    return {static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(address >> 8),
            static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 24)};
}

std::uint32_t AddressFromDeviceId(const DeviceId& id) {
    return std::uint32_t{id[0]} | std::uint32_t{id[1]} << 8 | std::uint32_t{id[2]} << 16 | std::uint32_t{id[3]} << 24;
}

} // namespace dm::irda
