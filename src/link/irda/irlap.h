#pragma once
// The IrLAP station: discovery (as the one who asks and as one who answers in a random
// slot), connection set-up in either role (primary for our pushes, secondary when the
// dosimeter beams), the normal response mode with its turns, go-back-N, RNR, and the
// timers (F-timer, watchdog, N2) that end a connection to a silent peer.
//
// Single-threaded: the stack's thread feeds it frames and timer ticks; it reads time
// from a clock the tests can replace, so nothing here sleeps on its own.
#include "link/irda/frame_port.h"
#include "link/irda/irlap_frame.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace dm::irda {

// The stack's time: the steady clock on the stack's thread, a clock of their own in tests.
class LapClock {
public:
    virtual ~LapClock() = default;
    virtual SteadyTime now() const = 0;
    // The few short waits the protocol asks for (the peer's minimum turnaround).
    virtual void sleepUntil(SteadyTime t) = 0;
};

class SteadyLapClock : public LapClock {
public:
    SteadyTime now() const override;
    void sleepUntil(SteadyTime t) override;
};

struct DiscoveredDevice {
    std::uint32_t address = 0;
    DiscoveryInfo info;
};

// What the station tells the layer above (IrLMP) and asks of it.
class LapUser {
public:
    virtual ~LapUser() = default;
    // Our own discovery ended with these answers (possibly none).
    virtual void lapDiscoveryDone(const std::vector<DiscoveredDevice>& devices) = 0;
    // Another station's discovery ended: it is in range.
    virtual void lapDiscoveredBy(const DiscoveredDevice& device) = 0;
    virtual void lapConnected(std::uint32_t peer, bool primary) = 0;
    virtual void lapConnectFailed(const std::string& why) = 0;
    virtual void lapData(const Bytes& pdu) = 0;
    // The connection ended; why is empty for an orderly end.
    virtual void lapDisconnected(const std::string& why) = 0;
    // The next PDU to send, at most maxSize bytes; nothing while nothing waits.
    virtual std::optional<Bytes> lapNextPdu(std::size_t maxSize) = 0;
    // True while something waits to go out (lapNextPdu would give it).
    virtual bool lapHasData() const = 0;
    // True while we cannot take more data (we answer RNR).
    virtual bool lapBusy() const { return false; }
};

struct LapConfig {
    std::uint32_t address = 0;   // 0: a random one
    DiscoveryInfo info;
    int maxSpeed = 115200;
    std::uint8_t dataSizeBits = 0x3F;  // what we take: up to 2048 bytes
    std::uint8_t windowBits = 0x7F;    // up to seven frames
    std::uint8_t linkDiscBits = 0x01; // 3 s: a dosimeter taken away is noticed soon
    int slots = 6;
    std::chrono::milliseconds mediaBusy{500};
    std::chrono::milliseconds slotMargin{50};      // beyond the answer's own line time
    std::chrono::milliseconds idlePoll{100};       // primary with nothing to say
    int connectTries = 3;
    std::uint64_t seed = 0;                        // 0: from the random device
};

class LapStation {
public:
    enum class State { Idle, MediaWait, Query, Setup, Primary, Secondary, Closing };

    LapStation(FramePort& port, LapClock& clock, LapUser& user, LapConfig config);

    // Starts a discovery (once the line has been quiet for the media-busy time); the
    // answers come through lapDiscoveryDone. False while connected or busy.
    bool discover(std::string* why);
    // Forgets a discovery asked for and not yet begun (the peer connected meanwhile).
    void cancelDiscovery() { wantDiscovery_ = false; }
    // Connects to the device as primary; lapConnected or lapConnectFailed follows.
    bool connect(std::uint32_t peer, std::string* why);
    // Ends the connection at our next turn (or at once when there is none).
    void disconnect();
    // The user has something to send: sent at once when it is our turn and idle.
    void poke();

    void onFrame(const Bytes& frame);
    void onTimer();
    // When onTimer wants to run next; max() when no timer runs.
    SteadyTime deadline() const { return deadline_; }

    // The port failed: every connection ends with that reason.
    void portFailed(const std::string& why);

    State state() const { return state_; }
    bool connected() const { return state_ == State::Primary || state_ == State::Secondary || state_ == State::Closing; }
    bool primary() const { return primary_; }
    std::uint32_t address() const { return config_.address; }
    std::uint32_t peer() const { return peer_; }
    const LinkParams& params() const { return params_; }
    // A discovery is waiting for the line or running.
    bool discovering() const { return wantDiscovery_ || state_ == State::Query; }

    // Counters for tests and messages.
    struct Counters {
        int retransmitted = 0;
        int duplicates = 0;
        int timeouts = 0;
    };
    const Counters& counters() const { return counters_; }

private:
    QosBits ourQos() const;
    void send(const Bytes& frame);
    void startTurnTimer(std::chrono::milliseconds after);
    std::chrono::milliseconds fTimer() const;
    std::chrono::milliseconds slotTime() const;
    void beginWhenQuiet();
    void startQuery();
    void sendQuerySlot();
    void handleXid(const XidFrame& xid);
    void handleSnrm(const SnrmInfo& snrm);
    void accept(const SnrmInfo& snrm);
    void linkUp(const QosBits& peerQos, bool primary);
    void linkDown(const std::string& why);
    void handleConnected(const LapFrame& frame);
    bool acknowledge(int nr);
    void ourTurn();
    void sendData(bool poll);
    void waitMinTurn();
    void idleAt(SteadyTime when);

    FramePort& port_;
    LapClock& clock_;
    LapUser& user_;
    LapConfig config_;
    std::mt19937_64 random_;

    State state_ = State::Idle;
    SteadyTime deadline_ = SteadyTime::max();
    std::string error_;

    // discovery
    bool wantDiscovery_ = false;
    int querySlot_ = 0;
    std::vector<DiscoveredDevice> found_;
    // answering another station's discovery
    std::uint32_t replyTo_ = 0;
    int replySlot_ = -1;
    int lastSlotSeen_ = -1;
    bool replied_ = false;
    SteadyTime replyEnds_{};

    // connection
    std::optional<std::uint32_t> wantConnect_;
    int connectTry_ = 0;
    std::uint8_t connection_ = 0;
    std::uint32_t peer_ = 0;
    bool primary_ = false;
    LinkParams params_;
    int vs_ = 0;
    int vr_ = 0;
    std::deque<std::pair<int, Bytes>> unacked_; // sent, not yet acknowledged: N(S), PDU
    std::size_t resendFrom_ = 0;                // unacked_ from here go out again
    bool remoteBusy_ = false;
    bool ourTurn_ = false;
    bool peerSentData_ = false;
    bool wantDisconnect_ = false;
    int retries_ = 0;
    int closeTries_ = 0;
    SteadyTime lastReceived_{};
    SteadyTime lastHeard_{};    // any frame from another station
    SteadyTime lineFree_{};
    Counters counters_;
};

} // namespace dm::irda
