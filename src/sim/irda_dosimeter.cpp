#include "sim/irda_dosimeter.h"

#include "core/text_file.h"
#include "link/irda/irda_stack.h"
#include "link/irda/serial_port.h"
#include "link/obex_push.h"
#include "params/catalogue.h"
#include "sim/pty_bridge.h"
#include "sim/sim_device.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <random>
#include <thread>

namespace dm {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kMaxCommandFile = std::size_t{1} << 20;
constexpr std::chrono::seconds kFindComputer{15};

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

} // namespace

struct IrdaDosimeter::Impl : irda::ObjectStore {
    Impl(Model model, SimOptions options) : model(model), options(std::move(options)) {}

    Model model;
    SimOptions options;
    std::unique_ptr<SimDevice> device;
    bool stateLoaded = false;
    std::unique_ptr<irda::IrdaStack> stack;
    std::thread beamer;

    mutable std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false;
    struct Pending {
        Clock::time_point due;
        SimReply reply;
    };
    std::deque<Pending> pending;
    std::size_t commands = 0;
    std::size_t beamed = 0;
    std::string stateError;
    unsigned long counter = 0;
    Clock::time_point runStart = Clock::now();
    long long clockAtStart = 0;

    void log(const std::string& line) const {
        if (options.log)
            options.log(line);
    }

    long long deviceClock() const {
        return clockAtStart + std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - runStart).count();
    }

    bool loadState(std::string* error) {
        if (!device) {
            std::uint64_t seed = options.seed ? options.seed : std::random_device{}() % 1000000000ull + 1;
            std::string catalogue;
            const std::filesystem::path path = options.catalogue.empty() ? FindDataFile("Commands.lst") : options.catalogue;
            if (auto bytes = TryReadFile(path))
                catalogue = DecodeCatalogue(*bytes);
            device = std::make_unique<SimDevice>(model, catalogue, seed);
        }
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
            stateLoaded = true;
            return true;
        }
        if (error)
            *error = "state file " + options.stateFile.string() + ": " + why;
        return false;
    }

    void saveState() {
        if (options.stateFile.empty() || !device)
            return;
        std::string why;
        std::lock_guard lock(mutex);
        if (!WriteFileAtomically(options.stateFile, device->stateText(), &why))
            stateError = "cannot save state file " + options.stateFile.string() + ": " + why;
        else
            stateError.clear();
    }

    // --- the objects pushed to the dosimeter (on the stack's thread) ---------------------

    class CommandWriter : public irda::ObjectWriter {
    public:
        CommandWriter(Impl& impl, std::string name) : impl_(impl), name_(std::move(name)) {}
        bool write(const char* data, std::size_t size, std::string* why) override {
            if (body_.size() + size > kMaxCommandFile) {
                *why = "a command file of more than 1 MiB";
                return false;
            }
            body_.append(data, size);
            return true;
        }
        std::optional<std::string> finish(std::string*) override {
            impl_.act(name_, body_);
            return name_;
        }

    private:
        Impl& impl_;
        std::string name_;
        std::string body_;
    };

    std::unique_ptr<irda::ObjectWriter> begin(const std::string& name, std::optional<std::uint64_t> length,
                                              std::uint8_t* refusal, std::string* why) override {
        if (length && *length > kMaxCommandFile) {
            *refusal = 0xCD;
            *why = "a command file of " + std::to_string(*length) + " bytes";
            return nullptr;
        }
        return std::make_unique<CommandWriter>(*this, name);
    }

    void act(const std::string& name, const std::string& body) {
        if (Lower(name) != "command.txt") {
            log("received \"" + name + "\" (" + std::to_string(body.size()) + " bytes); not a command file, ignored");
            return;
        }
        std::vector<SimReply> replies;
        {
            std::lock_guard lock(mutex);
            replies = device->handleCommandFile(body, deviceClock());
            ++commands;
            const auto due = Clock::now() + std::chrono::milliseconds(options.replyDelayMs);
            for (auto& r : replies)
                pending.push_back({due, std::move(r)});
        }
        log("command file received (" + std::to_string(body.size()) + " bytes), " + std::to_string(replies.size()) +
            " repl" + (replies.size() == 1 ? "y" : "ies") + " to beam");
        changed.notify_all();
        saveState();
    }

    // --- beaming (its own thread) ----------------------------------------------------------

    void beam() {
        std::unique_lock lock(mutex);
        while (!stopping) {
            if (pending.empty()) {
                changed.wait(lock);
                continue;
            }
            if (Clock::now() < pending.front().due) {
                changed.wait_until(lock, pending.front().due);
                continue;
            }
            SimReply reply = pending.front().reply;
            const std::string name =
                std::string(1, reply.letter) +
                std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count()) +
                "-" + std::to_string(++counter) + ".txt";
            lock.unlock();
            const bool done = beamOne(name, reply.bytes);
            lock.lock();
            if (done) {
                pending.pop_front();
                ++beamed;
            } else if (!stopping) {
                // Nobody to beam to yet: the reply waits, as the device keeps it.
                changed.wait_for(lock, std::chrono::seconds(1));
            }
        }
    }

    bool beamOne(const std::string& name, const std::string& bytes) {
        // The computer: whoever answers our discovery first.
        std::vector<irda::DiscoveredDevice> found;
        const auto giveUp = Clock::now() + kFindComputer;
        std::string error;
        while (found.empty() && Clock::now() < giveUp) {
            {
                std::lock_guard lock(mutex);
                if (stopping)
                    return false;
            }
            found.clear();
            if (!stack->discover(&found, Clock::now() + std::chrono::seconds(4), &error)) {
                log("discovery failed: " + error);
                return false;
            }
        }
        if (found.empty()) {
            log("nobody in range to beam " + name + " to");
            return false;
        }
        std::unique_ptr<Connection> c =
            stack->connect(found.front().address, "OBEX:IrXfer", Clock::now() + std::chrono::seconds(10), &error);
        if (!c) {
            log("cannot beam " + name + ": " + error);
            return false;
        }
        c->setDeadline(Clock::now() + std::chrono::seconds(600));
        PushReport report;
        PushObject(*c, name, bytes, report);
        c->close();
        log(report.completed ? "beamed " + name + " (" + std::to_string(bytes.size()) + " bytes)"
                             : "beaming " + name + " failed: " + report.error);
        return report.completed;
    }
};

IrdaDosimeter::IrdaDosimeter(Model model, SimOptions options)
    : impl_(std::make_unique<Impl>(model, std::move(options))) {}

IrdaDosimeter::~IrdaDosimeter() { stop(); }

bool IrdaDosimeter::loadState(std::string* error) { return impl_->loadState(error); }

bool IrdaDosimeter::start(std::unique_ptr<irda::FramePort> port, const std::string& capturePath, std::string* error) {
    Impl& d = *impl_;
    if (d.stack) {
        if (error)
            *error = "already running";
        return false;
    }
    if (!d.loadState(error))
        return false;
    d.clockAtStart = d.device->clock();
    d.runStart = Clock::now();
    irda::StackOptions so;
    so.store = &d;
    so.capturePath = capturePath;
    so.deviceName = std::string(ModelName(d.model));
    so.replyQuiet = std::chrono::milliseconds(0);
    so.log = d.options.log;
    so.lap.seed = d.options.seed;
    so.timeouts.receive = std::chrono::milliseconds(d.options.receiveTimeoutMs);
    d.stack = irda::IrdaStack::Start(std::move(port), so, error);
    if (!d.stack)
        return false;
    d.stopping = false;
    d.beamer = std::thread([&d] { d.beam(); });
    return true;
}

void IrdaDosimeter::stop() {
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.mutex);
        d.stopping = true;
    }
    d.changed.notify_all();
    if (d.beamer.joinable())
        d.beamer.join();
    if (d.stack) {
        d.stack.reset();
        if (d.device)
            d.device->advanceTo(d.deviceClock());
        d.saveState();
    }
}

std::size_t IrdaDosimeter::commandsHandled() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->commands;
}

std::size_t IrdaDosimeter::repliesBeamed() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->beamed;
}

std::string IrdaDosimeter::stateError() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->stateError;
}

std::unique_ptr<PtyDosimeter> PtyDosimeter::Start(Model model, SimOptions options, bool paced, std::string* linkPath,
                                                  std::string* error) {
    std::unique_ptr<PtyDosimeter> p(new PtyDosimeter());
    p->inRange_ = std::make_shared<std::atomic<bool>>(true);
    p->bridge_ = PtyBridge::Open(error, [inRange = p->inRange_](int, std::vector<std::uint8_t>& bytes) {
        if (!inRange->load())
            bytes.clear();
    });
    if (!p->bridge_)
        return nullptr;
    irda::SirLinkOptions sir;
    sir.path = p->bridge_->pathA();
    sir.dongle = "direct";
    sir.paced = paced;
    std::unique_ptr<irda::FramePort> port = irda::OpenSirPort(sir, error);
    if (!port)
        return nullptr;
    p->dosimeter_ = std::make_unique<IrdaDosimeter>(model, std::move(options));
    if (!p->dosimeter_->start(std::move(port), {}, error))
        return nullptr;
    if (linkPath)
        *linkPath = p->bridge_->pathB();
    return p;
}

void PtyDosimeter::setInRange(bool inRange) { inRange_->store(inRange); }

bool PtyDosimeter::inRange() const { return inRange_->load(); }

PtyDosimeter::~PtyDosimeter() {
    dosimeter_.reset();
    bridge_.reset();
}

} // namespace dm
