#include "link/irda/stack_engine.h"

#include <algorithm>

namespace dm::irda {
namespace {

constexpr const char* kLsapSelAttribute = "IrDA:TinyTP:LsapSel";

} // namespace

// Counts what arrives, so the quiet after a push knows when its reply has come.
class StackEngine::CountingStore : public ObjectStore {
public:
    CountingStore(ObjectStore& inner, StackEngine& engine) : inner_(inner), engine_(engine) {}
    std::unique_ptr<ObjectWriter> begin(const std::string& name, std::optional<std::uint64_t> length,
                                        std::uint8_t* refusal, std::string* why) override {
        return inner_.begin(name, length, refusal, why);
    }
    void received(const std::string& finalName) override {
        ++engine_.filesReceived_;
        engine_.replyArrived_ = true;
        inner_.received(finalName);
    }

private:
    ObjectStore& inner_;
    StackEngine& engine_;
};

// One incoming OBEX connection: Tiny TP below, the OBEX server above.
struct StackEngine::ServerSession {
    ServerSession(Lmp& lmp, ObjectStore& store) : obex(store) {
        ttp = std::make_unique<TinyTp>(lmp, TinyTp::Events{});
    }
    std::unique_ptr<TinyTp> ttp;
    ObexServer obex;
    bool ending = false; // the last answer is going out; then the connection ends
    bool dead = false;
};

struct StackEngine::Stream {
    int id = 0;
    std::unique_ptr<TinyTp> ttp;
    std::deque<std::size_t> pdus; // sizes of the PDUs the reader has not finished
    std::size_t taken = 0;        // bytes of the first of them already taken
    bool closed = false;
};

struct StackEngine::Job {
    enum class Phase { Waiting, Link, Ias, Ttp } phase = Phase::Waiting;
    int id = 0;
    std::uint32_t device = 0;
    std::string className;
    SteadyTime deadline;
    StreamOpened done;
    std::unique_ptr<IasClient> ias;
    int stream = 0;
};

StackEngine::StackEngine(FramePort& port, LapClock& clock, EngineOptions options, EngineEvents events)
    : port_(port), clock_(clock), options_(std::move(options)), events_(std::move(events)),
      lmp_(Lmp::Events{
          [this](const std::vector<DiscoveredDevice>& d) { discoveryDone(d, {}); },
          [this](const DiscoveredDevice& d) {
              std::erase_if(lastDevices_, [&](const DiscoveredDevice& x) { return x.address == d.address; });
              lastDevices_.insert(lastDevices_.begin(), d);
          },
          [this](std::uint32_t peer, bool primary) { linkUp(peer, primary); },
          [this](const std::string& why) { linkFailed(why); },
          [this](const std::string& why) { linkDown(why); },
      }),
      station_(port, clock, lmp_, [&] {
          LapConfig c = options_.lap;
          if (c.info.nickname.empty())
              c.info.nickname = options_.deviceName;
          return c;
      }()) {
    lmp_.attach(station_);
    lmp_.addIasAttribute("Device", "DeviceName", options_.deviceName);
    lmp_.addIasAttribute("Device", "IrLMPSupport", IasOctets{{0x01, 0x00, 0x00}});
    if (options_.store) {
        store_ = std::make_unique<CountingStore>(*options_.store, *this);
        const std::uint8_t lsap =
            lmp_.listen([this](int handle, const Bytes& data, Bytes* confirm) { return acceptObex(handle, data, confirm); });
        lmp_.addIasAttribute("OBEX", kLsapSelAttribute, std::uint32_t{lsap});
        lmp_.addIasAttribute("OBEX:IrXfer", kLsapSelAttribute, std::uint32_t{lsap});
    }
}

StackEngine::~StackEngine() {
    // The users of LSAP connections go before the multiplexer that calls them.
    jobs_.clear();
    streams_.clear();
    sessions_.clear();
}

void StackEngine::log(const std::string& line) const {
    if (events_.log)
        events_.log(line);
}

bool StackEngine::awaitingReply() const { return clock_.now() < quietUntil_; }

// --- discovery --------------------------------------------------------------------------------

void StackEngine::discover(DiscoveryDone done) {
    if (!portError_.empty()) {
        done({}, portError_);
        return;
    }
    if (station_.connected()) {
        DiscoveredDevice peer{station_.peer(), {}};
        for (const DiscoveredDevice& d : lastDevices_)
            if (d.address == peer.address)
                peer = d;
        done({peer}, {});
        return;
    }
    if (awaitingReply() || !jobs_.empty()) {
        done(lastDevices_, {});
        return;
    }
    std::string why;
    if (!station_.discover(&why)) {
        done(lastDevices_, {});
        return;
    }
    discoveryWaiters_.push_back(std::move(done));
}

void StackEngine::discoveryDone(const std::vector<DiscoveredDevice>& devices, const std::string& error) {
    if (error.empty())
        lastDevices_ = devices;
    std::vector<DiscoveryDone> waiters = std::move(discoveryWaiters_);
    discoveryWaiters_.clear();
    for (auto& w : waiters)
        w(devices, error);
    for (auto& [id, job] : jobs_)
        if (job->phase == Job::Phase::Waiting) {
            advance(*job);
            break;
        }
}

// --- the OBEX service -------------------------------------------------------------------------

LsapUser* StackEngine::acceptObex(int handle, const Bytes& data, Bytes* confirm) {
    auto session = std::make_unique<ServerSession>(lmp_, *store_);
    ServerSession* s = session.get();
    s->ttp = std::make_unique<TinyTp>(
        lmp_, TinyTp::Events{
                  nullptr,
                  [this, s](const std::uint8_t* bytes, std::size_t size) {
                      if (s->dead || s->ending) {
                          s->ttp->consumed(1);
                          return;
                      }
                      std::string out;
                      const std::size_t before = s->obex.objectsReceived();
                      const bool goOn = s->obex.feed(bytes, size, &out);
                      if (s->obex.objectsReceived() != before || (out.size() >= 3 && static_cast<std::uint8_t>(out[out.size() - 3]) >= 0xC0))
                          log(s->obex.lastEvent());
                      if (!out.empty())
                          s->ttp->send(reinterpret_cast<const std::uint8_t*>(out.data()), out.size());
                      s->ttp->consumed(1);
                      if (!goOn) {
                          s->ending = true;
                          log("OBEX session ends");
                      }
                  },
                  [s](const std::string&) {
                      s->obex.closed();
                      s->dead = true;
                  },
              });
    s->ttp->accepted(handle, data, confirm);
    sessions_.push_back(std::move(session));
    log("incoming OBEX connection from " + DeviceAddressText(station_.peer()));
    return s->ttp.get();
}

// --- outgoing streams -------------------------------------------------------------------------

int StackEngine::openStream(std::uint32_t device, const std::string& className, SteadyTime deadline, StreamOpened done) {
    auto job = std::make_unique<Job>();
    job->id = nextId_++;
    job->device = device;
    job->className = className;
    job->deadline = deadline;
    job->done = std::move(done);
    const int id = job->id;
    Job& j = *job;
    jobs_[id] = std::move(job);
    if (!portError_.empty()) {
        failJob(id, portError_);
        return id;
    }
    // One at a time: a second request waits for the first.
    if (jobs_.size() == 1)
        advance(j);
    return id;
}

void StackEngine::advance(Job& job) {
    switch (job.phase) {
    case Job::Phase::Waiting:
        if (station_.state() == LapStation::State::Closing)
            return; // started again once the link is down
        if (station_.connected()) {
            if (station_.peer() != job.device) {
                failJob(job.id, "the link is in use by " + DeviceAddressText(station_.peer()));
                return;
            }
            job.phase = Job::Phase::Link;
            advance(job);
            return;
        }
        if (station_.discovering() || station_.state() == LapStation::State::Setup)
            return; // started again when that is over
        {
            std::string why;
            if (!station_.connect(job.device, &why)) {
                failJob(job.id, why);
                return;
            }
        }
        linkIsOurs_ = true;
        job.phase = Job::Phase::Link;
        return;
    case Job::Phase::Link: {
        job.phase = Job::Phase::Ias;
        const int id = job.id;
        job.ias = std::make_unique<IasClient>(lmp_, job.className, kLsapSelAttribute, [this, id](const IasAnswer& a) {
            auto it = jobs_.find(id);
            if (it == jobs_.end())
                return;
            Job& j = *it->second;
            switch (a.code) {
            case IasAnswer::Code::Success:
                if (const auto* lsap = std::get_if<std::uint32_t>(&a.value); lsap && *lsap > 0 && *lsap < 0x70) {
                    j.phase = Job::Phase::Ttp;
                    auto stream = std::make_unique<Stream>();
                    stream->id = nextId_++;
                    const int sid = stream->id;
                    stream->ttp = std::make_unique<TinyTp>(
                        lmp_, TinyTp::Events{
                                  [this, id, sid] { finishJob(id, sid, {}); },
                                  [this, sid](const std::uint8_t* d, std::size_t n) {
                                      auto s = streams_.find(sid);
                                      if (s == streams_.end())
                                          return;
                                      s->second->pdus.push_back(n);
                                      if (events_.streamData)
                                          events_.streamData(sid, d, n);
                                  },
                                  [this, id, sid](const std::string& why) {
                                      auto s = streams_.find(sid);
                                      if (s != streams_.end())
                                          s->second->closed = true;
                                      if (jobs_.count(id)) {
                                          failJob(id, "the device refused the connection to its " + jobs_[id]->className +
                                                          " service" + (why.empty() ? "" : ": " + why));
                                          return;
                                      }
                                      if (events_.streamClosed)
                                          events_.streamClosed(sid, why.empty() ? "the device ended the connection" : why);
                                  },
                              });
                    j.stream = sid;
                    TinyTp& ttp = *stream->ttp;
                    streams_[sid] = std::move(stream);
                    if (!ttp.connect(static_cast<std::uint8_t>(*lsap)))
                        failJob(id, "no free service access point");
                    return;
                }
                failJob(id, "the device's IAS gave no usable service access point for " + j.className);
                return;
            case IasAnswer::Code::NoSuchClass:
                failJob(id, "the device offers no " + j.className + " service (IAS: no such class)");
                return;
            case IasAnswer::Code::NoSuchAttribute:
                failJob(id, "the device's " + j.className + " service has no Tiny TP address (IAS: no such attribute)");
                return;
            case IasAnswer::Code::Failed:
                failJob(id, a.why);
                return;
            }
        });
        if (!job.ias->start())
            failJob(job.id, "no free service access point for the IAS query");
        return;
    }
    case Job::Phase::Ias:
    case Job::Phase::Ttp:
        return;
    }
}

void StackEngine::failJob(int id, const std::string& why) { finishJob(id, 0, why); }

void StackEngine::finishJob(int id, int stream, const std::string& why) {
    auto it = jobs_.find(id);
    if (it == jobs_.end())
        return;
    std::unique_ptr<Job> job = std::move(it->second);
    jobs_.erase(it);
    if (!stream && job->stream) {
        auto s = streams_.find(job->stream);
        if (s != streams_.end()) {
            s->second->ttp->close();
            graveyard_.push_back(std::move(s->second->ttp));
            streams_.erase(s);
        }
    }
    if (job->ias)
        iasGraveyard_.push_back(std::move(job->ias));
    if (!why.empty())
        log("connection to " + DeviceAddressText(job->device) + " failed: " + why);
    if (job->done)
        job->done(stream, why);
    // The next request in line.
    if (!jobs_.empty())
        advance(*jobs_.begin()->second);
}

void StackEngine::cancel(int request) {
    if (jobs_.count(request))
        failJob(request, "cancelled");
}

void StackEngine::streamSend(int stream, const std::uint8_t* data, std::size_t size) {
    auto s = streams_.find(stream);
    if (s != streams_.end() && !s->second->closed)
        s->second->ttp->send(data, size);
}

std::size_t StackEngine::streamQueued(int stream) const {
    auto s = streams_.find(stream);
    return s == streams_.end() ? 0 : s->second->ttp->queued();
}

void StackEngine::streamConsumed(int stream, std::size_t bytes) {
    auto it = streams_.find(stream);
    if (it == streams_.end())
        return;
    Stream& s = *it->second;
    int pdus = 0;
    while (bytes > 0 && !s.pdus.empty()) {
        const std::size_t n = std::min(bytes, s.pdus.front() - s.taken);
        s.taken += n;
        bytes -= n;
        if (s.taken == s.pdus.front()) {
            s.pdus.pop_front();
            s.taken = 0;
            ++pdus;
        }
    }
    if (pdus)
        s.ttp->consumed(pdus);
}

void StackEngine::closeStream(int stream) {
    auto it = streams_.find(stream);
    if (it == streams_.end())
        return;
    it->second->ttp->close();
    graveyard_.push_back(std::move(it->second->ttp));
    streams_.erase(it);
    // Our push is over: the peer beams its answer once the line has been quiet.
    quietUntil_ = clock_.now() + options_.replyQuiet;
    replyArrived_ = false;
    sweep();
}

// --- the link ---------------------------------------------------------------------------------

void StackEngine::linkUp(std::uint32_t peer, bool primary) {
    log(std::string("link up with ") + DeviceAddressText(peer) + (primary ? " (we are primary)" : " (the peer is primary)") +
        " at " + std::to_string(station_.params().baud) + " baud, frames of " +
        std::to_string(station_.params().txDataSize) + " bytes, window " + std::to_string(station_.params().txWindow));
    if (!primary)
        linkIsOurs_ = false;
    // A discovery waiting for the line is answered at once: the peer is here.
    if (!discoveryWaiters_.empty()) {
        station_.cancelDiscovery();
        DiscoveredDevice device{peer, {}};
        for (const DiscoveredDevice& d : lastDevices_)
            if (d.address == peer)
                device = d;
        std::vector<DiscoveryDone> waiters = std::move(discoveryWaiters_);
        discoveryWaiters_.clear();
        for (auto& w : waiters)
            w({device}, {});
    }
    for (auto& [id, job] : jobs_) {
        if (job->phase == Job::Phase::Link || (job->phase == Job::Phase::Waiting && peer == job->device)) {
            job->phase = Job::Phase::Link;
            advance(*job);
        } else if (job->phase == Job::Phase::Waiting) {
            failJob(id, "the link is in use by " + DeviceAddressText(peer));
        }
        break;
    }
}

void StackEngine::linkFailed(const std::string& why) {
    linkIsOurs_ = false;
    for (auto& [id, job] : jobs_) {
        if (job->phase == Job::Phase::Link) {
            failJob(id, why);
            return;
        }
        break;
    }
}

void StackEngine::linkDown(const std::string& why) {
    log(why.empty() ? "link closed" : "link lost: " + why);
    const bool wasOurs = linkIsOurs_;
    linkIsOurs_ = false;
    if (!wasOurs && replyArrived_)
        quietUntil_ = std::min(quietUntil_, clock_.now() + options_.replyTail);
    std::vector<int> ids;
    for (auto& [id, job] : jobs_)
        if (job->phase != Job::Phase::Waiting)
            ids.push_back(id);
    for (int id : ids)
        failJob(id, why.empty() ? "the link ended" : why);
    if (!jobs_.empty() && portError_.empty())
        advance(*jobs_.begin()->second);
}

void StackEngine::maybeCloseLink() {
    if (station_.state() == LapStation::State::Primary && linkIsOurs_ && jobs_.empty() && lmp_.connectionCount() == 0)
        station_.disconnect();
}

void StackEngine::sweep() {
    for (auto& s : sessions_) {
        if (!s->dead && s->ending && s->ttp->queued() == 0) {
            s->ttp->close();
            s->obex.closed();
            s->dead = true;
        }
    }
    std::erase_if(sessions_, [](const auto& s) { return s->dead; });
    graveyard_.clear();
    iasGraveyard_.clear();
    maybeCloseLink();
}

// --- input and time ---------------------------------------------------------------------------

void StackEngine::onReadable() {
    std::vector<Bytes> frames;
    std::string error;
    const bool ok = port_.read(frames, &error);
    for (const Bytes& f : frames)
        station_.onFrame(f);
    if (!ok && portError_.empty()) {
        portError_ = error.empty() ? port_.name() + ": the port failed" : error;
        log(portError_);
        station_.portFailed(portError_);
        std::vector<int> ids;
        for (auto& [id, job] : jobs_)
            ids.push_back(id);
        for (int id : ids)
            failJob(id, portError_);
        discoveryDone({}, portError_);
    }
    sweep();
}

void StackEngine::onTimer() {
    station_.onTimer();
    const SteadyTime now = clock_.now();
    std::vector<int> late;
    for (auto& [id, job] : jobs_)
        if (now >= job->deadline)
            late.push_back(id);
    for (int id : late)
        failJob(id, "no answer in time");
    sweep();
}

SteadyTime StackEngine::deadline() const {
    SteadyTime t = station_.deadline();
    for (const auto& [id, job] : jobs_)
        t = std::min(t, job->deadline);
    return t;
}

} // namespace dm::irda
