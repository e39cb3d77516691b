#pragma once
// Tiny TP over one LSAP connection: credit-based flow control (each data PDU spends one
// credit of the sender's; the receiver returns credit as its buffers free) and the M bit
// (more of the same message follows). OBEX needs no segmentation, so what arrives is
// handed on as a byte stream in order.
#include "link/irda/irlmp.h"

#include <deque>
#include <functional>
#include <string>

namespace dm::irda {

inline constexpr std::uint8_t kTtpMoreBit = 0x80;
inline constexpr int kTtpInitialCredit = 14;

class TinyTp : public LsapUser {
public:
    struct Events {
        std::function<void()> connected;                       // our connect was confirmed
        std::function<void(const std::uint8_t*, std::size_t)> data;
        std::function<void(const std::string& why)> closed;    // the peer or the link ended it
    };
    TinyTp(Lmp& lmp, Events events, int initialCredit = kTtpInitialCredit);
    ~TinyTp() override;
    TinyTp(const TinyTp&) = delete;
    TinyTp& operator=(const TinyTp&) = delete;

    // Outgoing: connects to the peer's LSAP. False when no LSAP connection could start.
    bool connect(std::uint8_t remoteLsap);
    // Incoming: the connect PDU's user data in, the confirm's user data out.
    void accepted(int handle, const Bytes& connectData, Bytes* confirmData);
    void close();

    // Queues bytes to send; they go out as credit allows.
    void send(const std::uint8_t* data, std::size_t size);
    std::size_t queued() const { return out_.size(); }
    // The receiver of data has taken PDUs' worth of it: credit to return.
    void consumed(int pdus);
    // PDUs received and not yet consumed.
    int unconsumed() const { return unconsumed_; }
    bool open() const { return open_; }
    int sendCredit() const { return sendCredit_; }
    int handle() const { return handle_; }

    void lsapConnected(const Bytes& userData) override;
    void lsapData(const Bytes& data) override;
    void lsapDisconnected(const std::string& why) override;
    std::optional<Bytes> lsapNextData(std::size_t maxSize) override;
    bool lsapHasData() const override;

    static Bytes ConnectData(int credit) { return {static_cast<std::uint8_t>(credit & 0x7F)}; }

private:
    int creditToGive() const;

    Lmp& lmp_;
    Events events_;
    int handle_ = 0;
    bool open_ = false;
    int initialCredit_;
    int sendCredit_ = 0;    // PDUs we may still send
    int remoteCredit_ = 0;  // PDUs the peer may still send us
    int unconsumed_ = 0;    // received, not yet taken by our reader
    std::deque<std::uint8_t> out_;
};

} // namespace dm::irda
