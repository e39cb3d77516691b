#include "link/irda/irlmp.h"

#include <algorithm>

namespace dm::irda {
namespace {

constexpr std::uint8_t kControlBit = 0x80;
constexpr std::uint8_t kConnectPdu = 0x01;
constexpr std::uint8_t kConnectConfirm = 0x81;
constexpr std::uint8_t kDisconnectPdu = 0x02;
constexpr std::uint8_t kAccessMode = 0x03;
constexpr std::uint8_t kFirstDynamicLsap = 0x10;
constexpr std::uint8_t kLastLsap = 0x6F;

// Disconnect reasons.
constexpr std::uint8_t kUserRequest = 0x01;
constexpr std::uint8_t kNoClient = 0x08;
constexpr std::uint8_t kNotConnected = 0x06;

// IAS operations and answers.
constexpr std::uint8_t kIasLast = 0x80;
constexpr std::uint8_t kIasAck = 0x40;
constexpr std::uint8_t kGetValueByClass = 0x04;
constexpr std::uint8_t kIasSuccess = 0x00;
constexpr std::uint8_t kIasNoClass = 0x01;
constexpr std::uint8_t kIasNoAttribute = 0x02;
constexpr std::uint8_t kIasUnsupported = 0xFF;
constexpr std::size_t kMaxIasFrame = 0x400 - 4; // far above any query we serve

std::string ReasonText(std::uint8_t reason) {
    switch (reason) {
    case 0x01: return "";
    case 0x02: return "the link went down";
    case 0x03: return "the connection failed";
    case 0x06: return "the peer's service access point is not connected";
    case 0x07: return "the peer's service did not answer";
    case 0x08: return "the peer has no such service";
    default: return "the peer ended the connection (reason " + std::to_string(reason) + ")";
    }
}

} // namespace

// The IAS server side of one connection to LSAP 0: a query in, its answer out.
class IasServer : public LsapUser {
public:
    explicit IasServer(const Lmp& lmp) : lmp_(lmp) {}
    void lsapConnected(const Bytes&) override {}
    void lsapData(const Bytes& data) override {
        // The ack bit alone asks for the next frame of a long answer; ours are one frame.
        if (data.size() == 1 && (data[0] & kIasAck))
            return;
        pending_ = lmp_.answerQuery(data);
    }
    void lsapDisconnected(const std::string&) override {}
    std::optional<Bytes> lsapNextData(std::size_t maxSize) override {
        if (pending_.empty())
            return std::nullopt;
        Bytes out = std::move(pending_);
        pending_.clear();
        if (out.size() > maxSize)
            out.resize(maxSize);
        return out;
    }
    bool lsapHasData() const override { return !pending_.empty(); }

private:
    const Lmp& lmp_;
    Bytes pending_;
};

Bytes EncodeIasQuery(const std::string& className, const std::string& attribute) {
    Bytes q{static_cast<std::uint8_t>(kIasLast | kGetValueByClass)};
    q.push_back(static_cast<std::uint8_t>(std::min<std::size_t>(className.size(), 60)));
    q.insert(q.end(), className.begin(), className.begin() + q.back());
    q.push_back(static_cast<std::uint8_t>(std::min<std::size_t>(attribute.size(), 60)));
    q.insert(q.end(), attribute.begin(), attribute.begin() + q.back());
    return q;
}

IasAnswer DecodeIasAnswer(const Bytes& f) {
    IasAnswer a;
    if (f.size() < 2 || (f[0] & 0x3F) != kGetValueByClass) {
        a.why = "the peer's IAS answer is malformed";
        return a;
    }
    // The return code decides, whatever follows it.
    if (f[1] == kIasNoClass) {
        a.code = IasAnswer::Code::NoSuchClass;
        return a;
    }
    if (f[1] == kIasNoAttribute) {
        a.code = IasAnswer::Code::NoSuchAttribute;
        return a;
    }
    if (f[1] != kIasSuccess) {
        a.why = "the peer's IAS answered with code " + std::to_string(f[1]);
        return a;
    }
    if (f.size() < 7) {
        a.why = "the peer's IAS answer is cut short";
        return a;
    }
    const std::size_t count = std::size_t{f[2]} << 8 | f[3];
    if (count == 0) {
        a.code = IasAnswer::Code::NoSuchAttribute;
        return a;
    }
    const std::uint8_t type = f[6];
    const std::size_t at = 7;
    a.code = IasAnswer::Code::Success;
    if (type == 1 && f.size() >= at + 4) {
        a.value = std::uint32_t{f[at]} << 24 | std::uint32_t{f[at + 1]} << 16 | std::uint32_t{f[at + 2]} << 8 | f[at + 3];
    } else if (type == 2 && f.size() >= at + 2) {
        const std::size_t n = std::size_t{f[at]} << 8 | f[at + 1];
        IasOctets o;
        o.bytes.assign(f.begin() + static_cast<long>(at + 2), f.begin() + static_cast<long>(std::min(f.size(), at + 2 + n)));
        a.value = o;
    } else if (type == 3 && f.size() >= at + 2) {
        const std::size_t n = f[at + 1];
        a.value = std::string(f.begin() + static_cast<long>(at + 2), f.begin() + static_cast<long>(std::min(f.size(), at + 2 + n)));
    } else if (type == 0) {
        a.code = IasAnswer::Code::NoSuchAttribute;
    } else {
        a.code = IasAnswer::Code::Failed;
        a.why = "the peer's IAS value is malformed";
    }
    return a;
}

Lmp::Lmp(Events events) : events_(std::move(events)) {}

void Lmp::addIasAttribute(const std::string& className, const std::string& attribute, IasValue value) {
    std::uint16_t object = 0;
    bool found = false;
    for (const Attribute& a : ias_)
        if (a.className == className) {
            object = a.object;
            found = true;
        }
    if (!found) {
        for (const Attribute& a : ias_)
            object = std::max<std::uint16_t>(object, static_cast<std::uint16_t>(a.object + 1));
    }
    ias_.push_back({className, attribute, std::move(value), object});
}

Bytes Lmp::answerQuery(const Bytes& q) const {
    const std::uint8_t op = q.empty() ? 0 : (q[0] & 0x3F);
    if (op != kGetValueByClass || q.size() < 2)
        return {static_cast<std::uint8_t>(kIasLast | op), kIasUnsupported};
    const std::size_t cl = q[1];
    if (q.size() < 2 + cl + 1)
        return {static_cast<std::uint8_t>(kIasLast | op), kIasUnsupported};
    const std::string className(q.begin() + 2, q.begin() + static_cast<long>(2 + cl));
    const std::size_t al = q[2 + cl];
    if (q.size() < 3 + cl + al)
        return {static_cast<std::uint8_t>(kIasLast | op), kIasUnsupported};
    const std::string attribute(q.begin() + static_cast<long>(3 + cl), q.begin() + static_cast<long>(3 + cl + al));
    bool classFound = false;
    for (const Attribute& a : ias_) {
        if (a.className != className)
            continue;
        classFound = true;
        if (a.name != attribute)
            continue;
        Bytes r{static_cast<std::uint8_t>(kIasLast | op), kIasSuccess, 0x00, 0x01,
                static_cast<std::uint8_t>(a.object >> 8), static_cast<std::uint8_t>(a.object)};
        if (const auto* n = std::get_if<std::uint32_t>(&a.value)) {
            r.push_back(1);
            for (int s = 24; s >= 0; s -= 8)
                r.push_back(static_cast<std::uint8_t>(*n >> s));
        } else if (const auto* o = std::get_if<IasOctets>(&a.value)) {
            r.push_back(2);
            r.push_back(static_cast<std::uint8_t>(o->bytes.size() >> 8));
            r.push_back(static_cast<std::uint8_t>(o->bytes.size()));
            r.insert(r.end(), o->bytes.begin(), o->bytes.end());
        } else if (const auto* s = std::get_if<std::string>(&a.value)) {
            r.push_back(3);
            r.push_back(0x00); // ASCII
            r.push_back(static_cast<std::uint8_t>(std::min<std::size_t>(s->size(), 255)));
            r.insert(r.end(), s->begin(), s->begin() + r.back());
        } else {
            r.push_back(0);
        }
        if (r.size() > kMaxIasFrame)
            r.resize(kMaxIasFrame);
        return r;
    }
    return {static_cast<std::uint8_t>(kIasLast | op), classFound ? kIasNoAttribute : kIasNoClass};
}

std::uint8_t Lmp::freeLsap() const {
    for (int l = kFirstDynamicLsap; l <= kLastLsap; ++l) {
        const auto lsap = static_cast<std::uint8_t>(l);
        if (listeners_.count(lsap))
            continue;
        const bool used = std::any_of(conns_.begin(), conns_.end(), [&](const auto& c) { return c->local == lsap; });
        if (!used)
            return lsap;
    }
    return 0;
}

std::uint8_t Lmp::listen(Acceptor acceptor) {
    // Services sit below the numbers outgoing connections take.
    for (std::uint8_t l = 0x02; l < kFirstDynamicLsap; ++l)
        if (!listeners_.count(l)) {
            listeners_[l] = std::move(acceptor);
            return l;
        }
    return 0;
}

Lmp::Conn* Lmp::find(std::uint8_t local, std::uint8_t remote) {
    for (auto& c : conns_)
        if (c->local == local && c->remote == remote)
            return c.get();
    return nullptr;
}

void Lmp::control(std::uint8_t remote, std::uint8_t local, std::uint8_t opcode, std::uint8_t param, const Bytes& data) {
    Bytes pdu{static_cast<std::uint8_t>(kControlBit | remote), local, opcode, param};
    pdu.insert(pdu.end(), data.begin(), data.end());
    controls_.push_back(std::move(pdu));
    wake();
}

int Lmp::connect(std::uint8_t remoteLsap, LsapUser& user, const Bytes& userData) {
    if (!linkUp_)
        return 0;
    const std::uint8_t local = freeLsap();
    if (local == 0)
        return 0;
    auto c = std::make_unique<Conn>();
    c->handle = nextHandle_++;
    c->local = local;
    c->remote = remoteLsap;
    c->user = &user;
    const int handle = c->handle;
    conns_.push_back(std::move(c));
    control(remoteLsap, local, kConnectPdu, 0x00, userData);
    return handle;
}

void Lmp::disconnect(int handle) {
    for (auto it = conns_.begin(); it != conns_.end(); ++it) {
        if ((*it)->handle != handle)
            continue;
        if (linkUp_)
            control((*it)->remote, (*it)->local, kDisconnectPdu, kUserRequest);
        conns_.erase(it);
        return;
    }
}

void Lmp::wake() {
    if (station_)
        station_->poke();
}

std::size_t Lmp::connectionCount() const { return conns_.size(); }

void Lmp::lapDiscoveryDone(const std::vector<DiscoveredDevice>& devices) {
    if (events_.discoveryDone)
        events_.discoveryDone(devices);
}

void Lmp::lapDiscoveredBy(const DiscoveredDevice& device) {
    if (events_.discoveredBy)
        events_.discoveredBy(device);
}

void Lmp::lapConnected(std::uint32_t peer, bool primary) {
    linkUp_ = true;
    controls_.clear();
    if (events_.linkUp)
        events_.linkUp(peer, primary);
}

void Lmp::lapConnectFailed(const std::string& why) {
    if (events_.linkFailed)
        events_.linkFailed(why);
}

void Lmp::dropAll(const std::string& why) {
    // Users may open or end connections from their callbacks: take the list first.
    std::vector<std::unique_ptr<Conn>> ending = std::move(conns_);
    conns_.clear();
    for (auto& c : ending)
        if (c->user && !c->owned)
            c->user->lsapDisconnected(why.empty() ? "the link ended" : why);
}

void Lmp::lapDisconnected(const std::string& why) {
    linkUp_ = false;
    controls_.clear();
    dropAll(why);
    if (events_.linkDown)
        events_.linkDown(why);
}

void Lmp::lapData(const Bytes& pdu) {
    if (pdu.size() < 2)
        return;
    const bool isControl = (pdu[0] & kControlBit) != 0;
    const std::uint8_t local = pdu[0] & 0x7F;
    const std::uint8_t remote = pdu[1] & 0x7F;
    if (!isControl) {
        Conn* c = find(local, remote);
        if (!c || !c->open) {
            control(remote, local, kDisconnectPdu, kNotConnected);
            return;
        }
        c->user->lsapData(Bytes(pdu.begin() + 2, pdu.end()));
        return;
    }
    if (pdu.size() < 3)
        return;
    const std::uint8_t opcode = pdu[2];
    const std::uint8_t param = pdu.size() > 3 ? pdu[3] : 0;
    const Bytes data = pdu.size() > 4 ? Bytes(pdu.begin() + 4, pdu.end()) : Bytes{};
    switch (opcode) {
    case kConnectPdu: {
        if (Conn* old = find(local, remote)) {
            // The peer starts again on the same pair: the old one is gone.
            LsapUser* user = old->owned ? nullptr : old->user;
            conns_.erase(std::find_if(conns_.begin(), conns_.end(), [&](const auto& c) { return c.get() == old; }));
            if (user)
                user->lsapDisconnected("the peer connected again");
        }
        auto c = std::make_unique<Conn>();
        c->handle = nextHandle_++;
        c->local = local;
        c->remote = remote;
        c->open = true;
        Bytes confirm;
        if (local == kIasLsap) {
            c->owned = std::make_unique<IasServer>(*this);
            c->user = c->owned.get();
        } else if (auto l = listeners_.find(local); l != listeners_.end()) {
            c->user = l->second(c->handle, data, &confirm);
        }
        if (!c->user) {
            control(remote, local, kDisconnectPdu, kNoClient);
            return;
        }
        conns_.push_back(std::move(c));
        control(remote, local, kConnectConfirm, 0x00, confirm);
        return;
    }
    case kConnectConfirm: {
        Conn* c = find(local, remote);
        if (!c || c->open)
            return;
        c->open = true;
        c->user->lsapConnected(data);
        return;
    }
    case kDisconnectPdu: {
        Conn* c = find(local, remote);
        if (!c)
            return;
        LsapUser* user = c->owned ? nullptr : c->user;
        conns_.erase(std::find_if(conns_.begin(), conns_.end(), [&](const auto& x) { return x.get() == c; }));
        if (user)
            user->lsapDisconnected(ReasonText(param));
        return;
    }
    case kAccessMode:
    default:
        return;
    }
}

bool Lmp::lapHasData() const {
    if (!controls_.empty())
        return true;
    return std::any_of(conns_.begin(), conns_.end(), [](const auto& c) { return c->open && c->user->lsapHasData(); });
}

std::optional<Bytes> Lmp::lapNextPdu(std::size_t maxSize) {
    if (!controls_.empty()) {
        Bytes pdu = std::move(controls_.front());
        controls_.pop_front();
        if (pdu.size() > maxSize)
            pdu.resize(maxSize);
        return pdu;
    }
    if (maxSize <= 2 || conns_.empty())
        return std::nullopt;
    // Round robin, so one busy connection does not starve the others.
    for (std::size_t i = 0; i < conns_.size(); ++i) {
        Conn& c = *conns_[(nextRoundRobin_ + i) % conns_.size()];
        if (!c.open || !c.user->lsapHasData())
            continue;
        std::optional<Bytes> data = c.user->lsapNextData(maxSize - 2);
        if (!data)
            continue;
        nextRoundRobin_ = (nextRoundRobin_ + i + 1) % conns_.size();
        Bytes pdu{c.remote, c.local};
        pdu.insert(pdu.end(), data->begin(), data->end());
        return pdu;
    }
    return std::nullopt;
}

// --- IAS client ------------------------------------------------------------------------------

IasClient::IasClient(Lmp& lmp, std::string className, std::string attribute, Done done)
    : lmp_(lmp), class_(std::move(className)), attribute_(std::move(attribute)), done_(std::move(done)) {}

IasClient::~IasClient() {
    if (handle_)
        lmp_.disconnect(handle_);
}

bool IasClient::start() {
    handle_ = lmp_.connect(kIasLsap, *this, {});
    return handle_ != 0;
}

void IasClient::lsapConnected(const Bytes&) {
    query_ = EncodeIasQuery(class_, attribute_);
    lmp_.wake();
}

void IasClient::lsapData(const Bytes& data) {
    // The first frame holds the return code and the first value, all we ask for; a
    // longer list in later frames is not waited for.
    finish(DecodeIasAnswer(data));
}

void IasClient::lsapDisconnected(const std::string& why) {
    handle_ = 0;
    IasAnswer a;
    a.why = why.empty() ? "the peer ended the IAS query unanswered" : "IAS query: " + why;
    finish(a);
}

std::optional<Bytes> IasClient::lsapNextData(std::size_t maxSize) {
    if (query_.empty() || query_.size() > maxSize)
        return std::nullopt;
    Bytes q = std::move(query_);
    query_.clear();
    return q;
}

void IasClient::finish(const IasAnswer& answer) {
    if (finished_)
        return;
    finished_ = true;
    if (handle_) {
        lmp_.disconnect(handle_);
        handle_ = 0;
    }
    if (done_)
        done_(answer);
}

} // namespace dm::irda
