#include "link/irda/irlap.h"

#include <algorithm>
#include <thread>

namespace dm::irda {
namespace {

using std::chrono::milliseconds;

constexpr int kContactBofs = 10;
// SIR wrapping of one frame besides its extra BOFs: BOF, frame check, EOF (escapes aside).
constexpr std::size_t kWrapBytes = 4;

int Mod8(int v) { return ((v % 8) + 8) % 8; }

} // namespace

SteadyTime SteadyLapClock::now() const { return std::chrono::steady_clock::now(); }

void SteadyLapClock::sleepUntil(SteadyTime t) { std::this_thread::sleep_until(t); }

LapStation::LapStation(FramePort& port, LapClock& clock, LapUser& user, LapConfig config)
    : port_(port), clock_(clock), user_(user), config_(std::move(config)) {
    std::uint64_t seed = config_.seed;
    if (seed == 0)
        seed = (std::uint64_t{std::random_device{}()} << 32) ^ std::random_device{}();
    random_.seed(seed);
    while (config_.address == 0 || config_.address == kBroadcastDevice)
        config_.address = static_cast<std::uint32_t>(random_());
}

QosBits LapStation::ourQos() const {
    QosBits q;
    q.baud = BaudBits(port_.speeds(), config_.maxSpeed);
    q.maxTurn = 0x01;
    q.dataSize = config_.dataSizeBits;
    q.window = config_.windowBits;
    q.addBofs = 0x80;
    q.minTurn = 0x80;
    q.linkDisc = config_.linkDiscBits;
    return q;
}

// --- sending and time -------------------------------------------------------------------

void LapStation::send(const Bytes& frame) {
    if (!error_.empty())
        return;
    const int bofs = connected() ? params_.txExtraBofs : kContactBofs;
    const SteadyTime before = clock_.now();
    std::string why;
    if (!port_.send(frame, bofs, &why)) {
        portFailed(why.empty() ? "the port failed" : why);
        return;
    }
    // A port may hand the bytes to a buffer and return before they leave: the line is
    // busy until they have, and the timers count from then.
    const SteadyTime start = std::max(before, lineFree_);
    lineFree_ = start + LineDuration(frame.size() + kWrapBytes + static_cast<std::size_t>(bofs), port_.speed());
}

void LapStation::startTurnTimer(milliseconds after) {
    deadline_ = std::max(clock_.now(), lineFree_) + after;
}

milliseconds LapStation::fTimer() const {
    // The peer may hold the line for its whole turn; a frame of it arriving restarts this.
    return params_.maxTurn + milliseconds(100);
}

milliseconds LapStation::slotTime() const {
    // An answer is an XID frame of up to 44 bytes plus the contact BOFs.
    return std::chrono::ceil<milliseconds>(LineDuration(44 + kWrapBytes + kContactBofs, kContactSpeed)) +
           config_.slotMargin;
}

void LapStation::waitMinTurn() {
    const SteadyTime ready = lastReceived_ + (connected() ? params_.peerMinTurn : std::chrono::microseconds(10000));
    if (clock_.now() < ready)
        clock_.sleepUntil(ready);
}

void LapStation::idleAt(SteadyTime when) { deadline_ = when; }

// --- requests ---------------------------------------------------------------------------

bool LapStation::discover(std::string* why) {
    if (!error_.empty()) {
        if (why) *why = error_;
        return false;
    }
    if (connected() || state_ == State::Setup || wantConnect_) {
        if (why) *why = "the link is in use";
        return false;
    }
    if (state_ == State::Query || wantDiscovery_)
        return true; // the one running answers this request too
    wantDiscovery_ = true;
    beginWhenQuiet();
    return true;
}

bool LapStation::connect(std::uint32_t peer, std::string* why) {
    if (!error_.empty()) {
        if (why) *why = error_;
        return false;
    }
    if (connected() || state_ == State::Setup || wantConnect_) {
        if (why) *why = "the link is in use";
        return false;
    }
    wantConnect_ = peer;
    connectTry_ = 0;
    beginWhenQuiet();
    return true;
}

void LapStation::disconnect() {
    if (state_ == State::Primary || state_ == State::Secondary) {
        wantDisconnect_ = true;
        if (state_ == State::Primary && ourTurn_)
            ourTurn();
        return;
    }
    if (state_ == State::Setup || wantConnect_) {
        wantConnect_.reset();
        state_ = State::Idle;
        deadline_ = SteadyTime::max();
        user_.lapConnectFailed("connection cancelled");
        if (wantDiscovery_)
            beginWhenQuiet();
    }
}

void LapStation::poke() {
    if (state_ == State::Primary && ourTurn_)
        ourTurn();
}

void LapStation::portFailed(const std::string& why) {
    if (error_.empty())
        error_ = why;
    const State was = state_;
    state_ = State::Idle;
    deadline_ = SteadyTime::max();
    if (wantConnect_ || was == State::Setup) {
        wantConnect_.reset();
        user_.lapConnectFailed(error_);
    }
    if (was == State::Primary || was == State::Secondary || was == State::Closing)
        user_.lapDisconnected(error_);
    if (wantDiscovery_ || was == State::Query) {
        wantDiscovery_ = false;
        user_.lapDiscoveryDone({});
    }
}

// --- not connected: waiting for a quiet line, discovery, set-up --------------------------

void LapStation::beginWhenQuiet() {
    if (state_ != State::Idle && state_ != State::MediaWait)
        return;
    if (!wantDiscovery_ && !wantConnect_) {
        state_ = State::Idle;
        deadline_ = SteadyTime::max();
        return;
    }
    const SteadyTime now = clock_.now();
    // Someone else's discovery runs: we answer it first and start ours after it.
    // The line must have been quiet for a while; where its last bytes were our own, only
    // what we last heard from others counts.
    SteadyTime activity = port_.lastActivity();
    if (activity <= lineFree_ + milliseconds(20))
        activity = lastHeard_;
    SteadyTime quietFrom = activity + config_.mediaBusy;
    if (replySlot_ >= 0)
        quietFrom = std::max(quietFrom, replyEnds_);
    if (now < quietFrom) {
        state_ = State::MediaWait;
        // A little random extra, so two stations waiting for the same silence do not
        // start in the same instant.
        deadline_ = quietFrom + milliseconds(std::uniform_int_distribution<int>(0, 40)(random_));
        return;
    }
    if (wantConnect_) {
        ++connectTry_;
        connection_ = static_cast<std::uint8_t>(std::uniform_int_distribution<int>(1, 0x7E)(random_));
        SnrmInfo s;
        s.source = config_.address;
        s.destination = *wantConnect_;
        s.connection = connection_;
        s.qos = ourQos();
        state_ = State::Setup;
        send(EncodeSnrm(s));
        if (!error_.empty())
            return;
        startTurnTimer(milliseconds(500) + slotTime());
        return;
    }
    startQuery();
}

void LapStation::startQuery() {
    wantDiscovery_ = false;
    state_ = State::Query;
    querySlot_ = 0;
    found_.clear();
    sendQuerySlot();
}

void LapStation::sendQuerySlot() {
    XidFrame x;
    x.command = true;
    x.source = config_.address;
    x.slots = config_.slots;
    if (querySlot_ < config_.slots) {
        x.slot = querySlot_;
        send(EncodeXid(x));
        if (error_.empty())
            startTurnTimer(slotTime());
        return;
    }
    x.slot = kFinalSlot;
    x.info = config_.info;
    send(EncodeXid(x));
    state_ = State::Idle;
    deadline_ = SteadyTime::max();
    if (!error_.empty())
        return;
    std::vector<DiscoveredDevice> found = std::move(found_);
    found_.clear();
    user_.lapDiscoveryDone(found);
    beginWhenQuiet(); // a connection asked for meanwhile
}

void LapStation::handleXid(const XidFrame& xid) {
    if (xid.source == config_.address)
        return;
    if (!xid.command) {
        if (state_ == State::Query && xid.destination == config_.address) {
            const bool known = std::any_of(found_.begin(), found_.end(),
                                           [&](const DiscoveredDevice& d) { return d.address == xid.source; });
            if (!known)
                found_.push_back({xid.source, xid.info.value_or(DiscoveryInfo{})});
        }
        return;
    }
    if (connected() || state_ == State::Setup)
        return;
    if (xid.destination != kBroadcastDevice && xid.destination != config_.address)
        return;
    if (state_ == State::Query) {
        // Both asked at once: ours gives way and starts again once theirs is over.
        wantDiscovery_ = true;
        state_ = State::MediaWait;
    }
    if (xid.slot == kFinalSlot) {
        if (replyTo_ == xid.source)
            replySlot_ = -1;
        lastSlotSeen_ = -1;
        user_.lapDiscoveredBy({xid.source, xid.info.value_or(DiscoveryInfo{})});
        return;
    }
    const int slots = std::max(1, xid.slots);
    // A new discovery: another asker, or the same one starting again from a lower slot.
    if (replySlot_ < 0 || replyTo_ != xid.source || xid.slot < lastSlotSeen_) {
        replyTo_ = xid.source;
        replySlot_ = std::uniform_int_distribution<int>(std::min(xid.slot, slots - 1), slots - 1)(random_);
        replied_ = false;
    }
    lastSlotSeen_ = xid.slot;
    replyEnds_ = clock_.now() + slotTime() * (slots - xid.slot + 1);
    if (!replied_ && xid.slot >= replySlot_) {
        replied_ = true;
        XidFrame r;
        r.command = false;
        r.source = config_.address;
        r.destination = xid.source;
        r.slots = xid.slots;
        r.slot = xid.slot;
        r.info = config_.info;
        send(EncodeXid(r));
    }
    if (state_ == State::MediaWait || state_ == State::Idle)
        beginWhenQuiet();
}

void LapStation::handleSnrm(const SnrmInfo& snrm) {
    if (snrm.destination != config_.address || snrm.connection == 0 || snrm.connection == kBroadcastAddress)
        return;
    if (state_ == State::Setup) {
        // Both connect at once: the station with the higher address answers.
        if (snrm.source < config_.address)
            return;
        const std::uint32_t wanted = *wantConnect_;
        wantConnect_.reset();
        if (wanted != snrm.source) {
            accept(snrm);
            user_.lapConnectFailed("another station connected first");
            return;
        }
        accept(snrm);
        return;
    }
    if (state_ == State::Primary || state_ == State::Closing)
        return;
    if (state_ == State::Secondary) {
        if (snrm.source != peer_)
            return;
        // The primary starts again: the old connection is gone.
        linkDown("the peer reset the connection");
    }
    accept(snrm);
}

void LapStation::accept(const SnrmInfo& snrm) {
    const std::optional<LinkParams> p = Negotiate(ourQos(), snrm.qos);
    lastReceived_ = clock_.now();
    if (!p) {
        waitMinTurn();
        send(MakeFrame(snrm.connection, false, kDm | kPfBit));
        return;
    }
    connection_ = snrm.connection;
    peer_ = snrm.source;
    UaInfo ua;
    ua.source = config_.address;
    ua.destination = snrm.source;
    ua.qos = ourQos();
    waitMinTurn();
    send(EncodeUa(connection_, ua));
    if (!error_.empty())
        return;
    linkUp(snrm.qos, false);
}

void LapStation::linkUp(const QosBits& peerQos, bool primary) {
    params_ = *Negotiate(ourQos(), peerQos);
    primary_ = primary;
    vs_ = vr_ = 0;
    unacked_.clear();
    resendFrom_ = 0;
    remoteBusy_ = false;
    wantDisconnect_ = false;
    retries_ = 0;
    peerSentData_ = false;
    replySlot_ = -1;
    // The new speed applies once UA has gone (secondary) or come (primary).
    if (params_.baud != port_.speed()) {
        std::string why;
        if (!port_.setSpeed(params_.baud, &why)) {
            // The adapter cannot: stay at the contact speed, which both share.
            params_ = *Negotiate(ourQos(), QosBits{static_cast<std::uint16_t>(0x02), peerQos.maxTurn,
                                                    peerQos.dataSize, peerQos.window, peerQos.addBofs,
                                                    peerQos.minTurn, peerQos.linkDisc});
        }
    }
    state_ = primary ? State::Primary : State::Secondary;
    user_.lapConnected(peer_, primary);
    if (state_ != (primary ? State::Primary : State::Secondary))
        return; // the user ended it at once
    if (primary) {
        ourTurn_ = true;
        ourTurn();
    } else {
        ourTurn_ = false;
        startTurnTimer(params_.maxTurn * 2);
    }
}

void LapStation::linkDown(const std::string& why) {
    state_ = State::Idle;
    deadline_ = SteadyTime::max();
    unacked_.clear();
    ourTurn_ = false;
    wantDisconnect_ = false;
    if (port_.speed() != kContactSpeed) {
        std::string ignored;
        port_.setSpeed(kContactSpeed, &ignored);
    }
    params_ = LinkParams{};
    user_.lapDisconnected(why);
    if (wantDiscovery_ || wantConnect_)
        beginWhenQuiet();
}

// --- connected ----------------------------------------------------------------------------

bool LapStation::acknowledge(int nr) {
    // N(R) must lie between the oldest unacknowledged frame and the next to send.
    const int oldest = unacked_.empty() ? vs_ : unacked_.front().first;
    const int span = Mod8(vs_ - oldest);
    const int acked = Mod8(nr - oldest);
    if (acked > span)
        return false;
    for (int i = 0; i < acked; ++i)
        unacked_.pop_front();
    resendFrom_ = resendFrom_ > static_cast<std::size_t>(acked) ? resendFrom_ - static_cast<std::size_t>(acked) : 0;
    return true;
}

void LapStation::handleConnected(const LapFrame& f) {
    if (f.connection != connection_ || f.command == primary_)
        return;
    lastReceived_ = clock_.now();
    const bool turn = f.pf();
    if (f.kind() == FrameKind::Information) {
        acknowledge(f.nr());
        if (f.ns() == vr_) {
            vr_ = Mod8(vr_ + 1);
            peerSentData_ = true;
            user_.lapData(f.info);
            if (state_ != State::Primary && state_ != State::Secondary)
                return; // the user ended the link from inside
        } else {
            ++counters_.duplicates; // dropped; our next frame acknowledges what we have
        }
    } else if (f.kind() == FrameKind::Supervisory) {
        acknowledge(f.nr());
        const std::uint8_t t = f.type();
        if (t == kRnr)
            remoteBusy_ = true;
        else if (t == kRr || t == kRej || t == kSrej)
            remoteBusy_ = false;
    } else {
        const std::uint8_t t = f.type();
        if (t == kDisc) {
            if (!primary_) {
                waitMinTurn();
                send(MakeFrame(connection_, false, kUa | kPfBit));
                linkDown("");
                return;
            }
            // The secondary asks to end (RD): done at our turn.
            wantDisconnect_ = true;
        } else if (t == kDm) {
            linkDown("the peer is not connected (DM)");
            return;
        } else if (t == kFrmr) {
            linkDown("the peer rejected a frame (FRMR)");
            return;
        } else if (t == kUa && state_ == State::Closing) {
            linkDown("");
            return;
        } else if (t == kSnrm && !primary_) {
            return; // handled before
        } else {
            return;
        }
    }
    if (state_ == State::Closing) {
        if (turn)
            startTurnTimer(fTimer());
        return;
    }
    if (turn) {
        retries_ = 0;
        deadline_ = SteadyTime::max();
        // What the peer has not acknowledged by its turn's end was lost: it goes out again.
        resendFrom_ = 0;
        ourTurn_ = true;
        ourTurn();
    } else if (primary_) {
        startTurnTimer(fTimer()); // more frames of the peer's turn may follow
    }
}

void LapStation::ourTurn() {
    if (!ourTurn_)
        return;
    if (wantDisconnect_) {
        ourTurn_ = false;
        waitMinTurn();
        if (primary_) {
            state_ = State::Closing;
            closeTries_ = 0;
            send(MakeFrame(connection_, true, kDisc | kPfBit));
            if (error_.empty())
                startTurnTimer(fTimer());
        } else {
            send(MakeFrame(connection_, false, kDisc | kPfBit)); // RD: asks the primary to end
            if (error_.empty())
                startTurnTimer(params_.maxTurn * 2);
        }
        return;
    }
    const bool haveData = !remoteBusy_ && (resendFrom_ < unacked_.size() ||
                                           (user_.lapHasData() && unacked_.size() < static_cast<std::size_t>(params_.txWindow)));
    if (primary_ && !haveData && !peerSentData_) {
        // Nothing to say and nothing heard: poll again a little later, or as soon as the
        // user has something.
        if (deadline_ == SteadyTime::max())
            idleAt(std::max(clock_.now(), lineFree_) + (remoteBusy_ ? params_.maxTurn : config_.idlePoll));
        return;
    }
    sendData(true);
}

void LapStation::sendData(bool poll) {
    ourTurn_ = false;
    peerSentData_ = false;
    waitMinTurn();
    const bool command = primary_;
    std::vector<Bytes> frames;
    if (!remoteBusy_) {
        // Go-back-N: what the peer did not acknowledge goes out again with its numbers,
        // then new frames up to the window.
        std::vector<int> numbers;
        for (std::size_t i = resendFrom_; i < unacked_.size(); ++i) {
            frames.push_back(unacked_[i].second);
            numbers.push_back(unacked_[i].first);
            ++counters_.retransmitted;
        }
        while (unacked_.size() < static_cast<std::size_t>(params_.txWindow) && user_.lapHasData()) {
            std::optional<Bytes> pdu = user_.lapNextPdu(params_.txDataSize);
            if (!pdu)
                break;
            unacked_.emplace_back(vs_, *pdu);
            numbers.push_back(vs_);
            frames.push_back(std::move(*pdu));
            vs_ = Mod8(vs_ + 1);
        }
        resendFrom_ = unacked_.size();
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const bool last = i + 1 == frames.size();
            send(MakeFrame(connection_, command, IControl(vr_, numbers[i], last && poll), frames[i]));
            if (!error_.empty())
                return;
        }
        if (!frames.empty()) {
            startTurnTimer(primary_ ? fTimer() : params_.maxTurn * 2);
            return;
        }
    }
    const std::uint8_t type = user_.lapBusy() ? kRnr : kRr;
    send(MakeFrame(connection_, command, SControl(type, vr_, poll)));
    if (error_.empty())
        startTurnTimer(primary_ ? fTimer() : params_.maxTurn * 2);
}

// --- input ------------------------------------------------------------------------------------

void LapStation::onFrame(const Bytes& bytes) {
    const std::optional<LapFrame> f = ParseLapFrame(bytes);
    if (!f || !error_.empty())
        return;
    lastHeard_ = clock_.now();
    if (f->kind() == FrameKind::Unnumbered && f->connection == kBroadcastAddress) {
        if (const auto xid = DecodeXid(*f)) {
            handleXid(*xid);
            return;
        }
        if (const auto snrm = DecodeSnrm(*f)) {
            handleSnrm(*snrm);
            return;
        }
        return;
    }
    if (state_ == State::Setup && f->connection == connection_ && !f->command) {
        if (const auto ua = DecodeUa(*f); ua && ua->source == *wantConnect_ && ua->destination == config_.address) {
            lastReceived_ = clock_.now();
            peer_ = ua->source;
            wantConnect_.reset();
            if (!Negotiate(ourQos(), ua->qos)) {
                state_ = State::Idle;
                deadline_ = SteadyTime::max();
                user_.lapConnectFailed("the peer shares no speed with us");
                return;
            }
            linkUp(ua->qos, true);
            return;
        }
        if (f->type() == kDm) {
            wantConnect_.reset();
            state_ = State::Idle;
            deadline_ = SteadyTime::max();
            user_.lapConnectFailed("the peer refused the connection (DM)");
            return;
        }
        return;
    }
    if (connected()) {
        handleConnected(*f);
        return;
    }
    // A command for a connection we do not have: tell its sender, so it ends at once.
    if (f->command && f->pf() && f->connection != kBroadcastAddress && state_ == State::Idle &&
        !(f->kind() == FrameKind::Unnumbered && f->type() == kDisc)) {
        lastReceived_ = clock_.now();
        waitMinTurn();
        send(MakeFrame(f->connection, false, kDm | kPfBit));
    } else if (f->command && f->kind() == FrameKind::Unnumbered && f->type() == kDisc && state_ == State::Idle) {
        lastReceived_ = clock_.now();
        waitMinTurn();
        send(MakeFrame(f->connection, false, kDm | kPfBit));
    }
}

void LapStation::onTimer() {
    if (clock_.now() < deadline_)
        return;
    deadline_ = SteadyTime::max();
    switch (state_) {
    case State::Idle:
        break;
    case State::MediaWait:
        beginWhenQuiet();
        break;
    case State::Query:
        ++querySlot_;
        sendQuerySlot();
        break;
    case State::Setup:
        if (connectTry_ >= config_.connectTries) {
            const std::uint32_t who = *wantConnect_;
            wantConnect_.reset();
            state_ = State::Idle;
            user_.lapConnectFailed("no answer from " + DeviceAddressText(who) + " to the connection request");
            beginWhenQuiet();
        } else {
            state_ = State::Idle;
            beginWhenQuiet();
        }
        break;
    case State::Primary: {
        if (ourTurn_) { // the idle poll is due
            sendData(true);
            break;
        }
        ++counters_.timeouts;
        ++retries_;
        // N2: as many F-timer periods as the link-disconnect time holds.
        const long long n2 = std::max<long long>(1, params_.linkDisconnect.count() / fTimer().count());
        if (retries_ >= n2) {
            linkDown("no answer from the peer for " + std::to_string(params_.linkDisconnect.count() / 1000) + " s");
            break;
        }
        // Ask again with a poll: the answer's N(R) says what must be resent.
        waitMinTurn();
        send(MakeFrame(connection_, true, SControl(user_.lapBusy() ? kRnr : kRr, vr_, true)));
        if (error_.empty())
            startTurnTimer(fTimer());
        break;
    }
    case State::Secondary: {
        ++counters_.timeouts;
        ++retries_;
        const long long n2 = std::max<long long>(1, params_.linkDisconnect.count() / (params_.maxTurn.count() * 2));
        if (retries_ >= n2) {
            linkDown("no word from the peer for " + std::to_string(params_.linkDisconnect.count() / 1000) + " s");
            break;
        }
        startTurnTimer(params_.maxTurn * 2);
        break;
    }
    case State::Closing:
        if (++closeTries_ >= 3) {
            linkDown("");
            break;
        }
        send(MakeFrame(connection_, true, kDisc | kPfBit));
        if (error_.empty())
            startTurnTimer(fTimer());
        break;
    }
}

} // namespace dm::irda
