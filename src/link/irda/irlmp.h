#pragma once
// IrLMP over one IrLAP link: service access points (LSAPs) multiplexed on the link, their
// connect / confirm / disconnect, and the information access service (IAS): a server at
// LSAP 0 answering GetValueByClass from our own small database, and a client that asks
// the peer's.
#include "link/irda/irlap.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace dm::irda {

inline constexpr std::uint8_t kIasLsap = 0x00;

// What one LSAP connection tells its user and asks of it. The user lives at least until
// lsapDisconnected has been called or it ended the connection itself.
class LsapUser {
public:
    virtual ~LsapUser() = default;
    // The peer confirmed our connect request (never called for accepted connections).
    virtual void lsapConnected(const Bytes& userData) = 0;
    virtual void lsapData(const Bytes& data) = 0;
    // The connection ended without our asking; why is empty for the peer's orderly end.
    virtual void lsapDisconnected(const std::string& why) = 0;
    // The next data to send, at most maxSize bytes.
    virtual std::optional<Bytes> lsapNextData(std::size_t maxSize) = 0;
    virtual bool lsapHasData() const = 0;
};

// IAS attribute values.
struct IasOctets {
    Bytes bytes;
};
using IasValue = std::variant<std::monostate, std::uint32_t, IasOctets, std::string>;

// The answer to a GetValueByClass query.
struct IasAnswer {
    enum class Code { Success, NoSuchClass, NoSuchAttribute, Failed } code = Code::Failed;
    IasValue value;           // the first value of the list on success
    std::string why;          // for Failed
};

Bytes EncodeIasQuery(const std::string& className, const std::string& attribute);
IasAnswer DecodeIasAnswer(const Bytes& frame);

class Lmp : public LapUser {
public:
    // Events of the link as a whole, for the owner of the stack.
    struct Events {
        std::function<void(const std::vector<DiscoveredDevice>&)> discoveryDone;
        std::function<void(const DiscoveredDevice&)> discoveredBy;
        std::function<void(std::uint32_t peer, bool primary)> linkUp;
        std::function<void(const std::string& why)> linkFailed; // our connect failed
        std::function<void(const std::string& why)> linkDown;
    };
    // Accepts an incoming connection to a listening LSAP: its user, and the user data of
    // the confirm; nothing refuses it.
    using Acceptor = std::function<LsapUser*(int handle, const Bytes& userData, Bytes* confirmData)>;

    explicit Lmp(Events events);
    void attach(LapStation& station) { station_ = &station; }

    // Our IAS database.
    void addIasAttribute(const std::string& className, const std::string& attribute, IasValue value);
    // Offers a service on a free LSAP; returns its number.
    std::uint8_t listen(Acceptor acceptor);

    // Opens a connection from a free LSAP of ours to the peer's remoteLsap over the link
    // that is up; returns its handle, or 0 when no LSAP is free or no link is up.
    int connect(std::uint8_t remoteLsap, LsapUser& user, const Bytes& userData);
    // Ends a connection; its user hears nothing more.
    void disconnect(int handle);
    // A user has data to send.
    void wake();
    // LSAP connections open or opening.
    std::size_t connectionCount() const;

    // LapUser
    void lapDiscoveryDone(const std::vector<DiscoveredDevice>& devices) override;
    void lapDiscoveredBy(const DiscoveredDevice& device) override;
    void lapConnected(std::uint32_t peer, bool primary) override;
    void lapConnectFailed(const std::string& why) override;
    void lapData(const Bytes& pdu) override;
    void lapDisconnected(const std::string& why) override;
    std::optional<Bytes> lapNextPdu(std::size_t maxSize) override;
    bool lapHasData() const override;

private:
    struct Conn {
        int handle = 0;
        std::uint8_t local = 0;
        std::uint8_t remote = 0;
        bool open = false;
        LsapUser* user = nullptr;
        std::unique_ptr<LsapUser> owned; // the IAS server and similar users of our own
    };
    Conn* find(std::uint8_t local, std::uint8_t remote);
    std::uint8_t freeLsap() const;
    void control(std::uint8_t remote, std::uint8_t local, std::uint8_t opcode, std::uint8_t param,
                 const Bytes& data = {});
    void dropAll(const std::string& why);
    Bytes answerQuery(const Bytes& query) const;

    friend class IasServer;

    Events events_;
    LapStation* station_ = nullptr;
    bool linkUp_ = false;
    std::map<std::uint8_t, Acceptor> listeners_;
    std::vector<std::unique_ptr<Conn>> conns_;
    std::deque<Bytes> controls_;
    std::size_t nextRoundRobin_ = 0;
    int nextHandle_ = 1;
    struct Attribute {
        std::string className;
        std::string name;
        IasValue value;
        std::uint16_t object;
    };
    std::vector<Attribute> ias_;
};

// Asks the peer's IAS for one attribute over its own LSAP connection and ends it.
class IasClient : public LsapUser {
public:
    using Done = std::function<void(const IasAnswer&)>;
    IasClient(Lmp& lmp, std::string className, std::string attribute, Done done);
    ~IasClient() override;
    bool start(); // false when no connection could be opened

    void lsapConnected(const Bytes& userData) override;
    void lsapData(const Bytes& data) override;
    void lsapDisconnected(const std::string& why) override;
    std::optional<Bytes> lsapNextData(std::size_t maxSize) override;
    bool lsapHasData() const override { return !query_.empty(); }

private:
    void finish(const IasAnswer& answer);
    Lmp& lmp_;
    std::string class_;
    std::string attribute_;
    Done done_;
    int handle_ = 0;
    Bytes query_;
    bool finished_ = false;
};

} // namespace dm::irda
