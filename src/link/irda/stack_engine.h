#pragma once
// The IrDA stack's layers put together, without threads: IrLAP, IrLMP with the IAS
// entries of an OBEX receiver, the OBEX service (Tiny TP and an OBEX server per incoming
// connection, writing into an object store), and outgoing streams (IrLAP connect, IAS
// query, Tiny TP connect) for our own pushes. The stack's thread (irda_stack.h) owns one
// and calls it; tests drive one on a clock of their own.
#include "link/irda/irlap.h"
#include "link/irda/irlmp.h"
#include "link/irda/obex_server.h"
#include "link/irda/tinytp.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace dm::irda {

struct EngineEvents {
    // Bytes for one of our outgoing streams; each call is one Tiny TP PDU's worth.
    std::function<void(int stream, const std::uint8_t* data, std::size_t size)> streamData;
    // A stream ended (the peer, the link or the port ended it).
    std::function<void(int stream, const std::string& why)> streamClosed;
    // One line for the log: connections, files received, failures.
    std::function<void(const std::string&)> log;
};

struct EngineOptions {
    LapConfig lap;
    // Where pushed objects go; none: no OBEX service is offered.
    ObjectStore* store = nullptr;
    std::string deviceName = "Dosimeter manager";
    // After one of our pushes ends, our discovery keeps quiet this long at most, so the
    // peer finds the silence it waits for before it beams its reply.
    std::chrono::milliseconds replyQuiet{20000};
    // Once a reply connection has ended, the quiet lasts this much longer (more may come).
    std::chrono::milliseconds replyTail{2000};
};

class StackEngine {
public:
    using DiscoveryDone = std::function<void(const std::vector<DiscoveredDevice>&, const std::string& error)>;
    using StreamOpened = std::function<void(int stream, const std::string& error)>;

    StackEngine(FramePort& port, LapClock& clock, EngineOptions options, EngineEvents events);
    ~StackEngine();

    // Discovery: done is called once with the devices in range. While a link is up, or
    // while a reply is awaited, it answers at once from what is known (no frame is sent).
    void discover(DiscoveryDone done);
    // Opens a byte stream to className's Tiny TP service on device (IrLAP connect when no
    // link is up, IAS query, Tiny TP connect); done gets the stream's number or an error.
    // Returns the request's number for cancel().
    int openStream(std::uint32_t device, const std::string& className, SteadyTime deadline, StreamOpened done);
    void cancel(int request);
    void streamSend(int stream, const std::uint8_t* data, std::size_t size);
    // The reader has taken bytes of the stream: their credit goes back to the peer.
    void streamConsumed(int stream, std::size_t bytes);
    void closeStream(int stream);
    // Bytes still waiting to go out on a stream.
    std::size_t streamQueued(int stream) const;

    // The port has something (or failed); the timers are due.
    void onReadable();
    void onTimer();
    SteadyTime deadline() const;

    const std::string& portError() const { return portError_; }
    LapStation& station() { return station_; }
    // Devices heard from lately: our last discovery's answers and those who discovered us.
    const std::vector<DiscoveredDevice>& lastDevices() const { return lastDevices_; }
    bool awaitingReply() const;
    std::size_t filesReceived() const { return filesReceived_; }

private:
    struct ServerSession;
    struct Stream;
    struct Job;
    class CountingStore;

    void log(const std::string& line) const;
    void linkUp(std::uint32_t peer, bool primary);
    void linkFailed(const std::string& why);
    void linkDown(const std::string& why);
    void discoveryDone(const std::vector<DiscoveredDevice>& devices, const std::string& error);
    void advance(Job& job);
    void failJob(int id, const std::string& why);
    void finishJob(int id, int stream, const std::string& why);
    void sweep();
    void maybeCloseLink();
    LsapUser* acceptObex(int handle, const Bytes& data, Bytes* confirm);

    FramePort& port_;
    LapClock& clock_;
    EngineOptions options_;
    EngineEvents events_;
    Lmp lmp_;
    LapStation station_;
    std::unique_ptr<CountingStore> store_;
    std::vector<DiscoveryDone> discoveryWaiters_;
    std::vector<DiscoveredDevice> lastDevices_;
    std::vector<std::unique_ptr<ServerSession>> sessions_;
    std::map<int, std::unique_ptr<Stream>> streams_;
    std::map<int, std::unique_ptr<Job>> jobs_;
    // Users ended from inside their own callbacks, deleted once those have returned.
    std::vector<std::unique_ptr<TinyTp>> graveyard_;
    std::vector<std::unique_ptr<IasClient>> iasGraveyard_;
    int nextId_ = 1;
    std::string portError_;
    bool linkIsOurs_ = false;     // we connected as primary for our own streams
    SteadyTime quietUntil_{};     // our discovery keeps quiet until then
    bool replyArrived_ = false;   // a file came in since the quiet began
    std::size_t filesReceived_ = 0;
};

} // namespace dm::irda
