#pragma once
// IrLAP frames as bytes: the address and control fields, the discovery (XID) frames, the
// connection frames (SNRM, UA) with their negotiation parameters, and the rules that turn
// both sides' parameters into what each station may send (the line-capacity rule).
// No state here: the station (irlap.h) decides when to send what.
#include "link/irda/frame_port.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dm::irda {

// --- address byte: connection address << 1 | C/R (1 = command)
inline constexpr std::uint8_t kBroadcastAddress = 0x7F;
inline constexpr std::uint8_t kCommandBit = 0x01;
inline constexpr std::uint32_t kBroadcastDevice = 0xFFFFFFFF;

// --- control field (P/F bit excluded)
inline constexpr std::uint8_t kPfBit = 0x10;
inline constexpr std::uint8_t kSnrm = 0x83;
inline constexpr std::uint8_t kDisc = 0x43; // as a response: RD, request disconnect
inline constexpr std::uint8_t kUa = 0x63;
inline constexpr std::uint8_t kDm = 0x0F;
inline constexpr std::uint8_t kFrmr = 0x87;
inline constexpr std::uint8_t kXidCommand = 0x2F;
inline constexpr std::uint8_t kXidResponse = 0xAF;
inline constexpr std::uint8_t kUi = 0x03;
inline constexpr std::uint8_t kTest = 0xE3;
inline constexpr std::uint8_t kRr = 0x01;
inline constexpr std::uint8_t kRnr = 0x05;
inline constexpr std::uint8_t kRej = 0x09;
inline constexpr std::uint8_t kSrej = 0x0D;

// Hint bits of discovery information.
inline constexpr std::uint8_t kHintComputer = 0x04;
inline constexpr std::uint8_t kHintExtension = 0x80;
inline constexpr std::uint8_t kHint2Obex = 0x20;

enum class FrameKind { Information, Supervisory, Unnumbered };

// One frame as received: its address and control split, its information field kept.
struct LapFrame {
    std::uint8_t connection = 0; // 7-bit connection address
    bool command = false;
    std::uint8_t control = 0;    // as sent, P/F included
    Bytes info;

    bool pf() const { return (control & kPfBit) != 0; }
    FrameKind kind() const {
        if ((control & 0x01) == 0)
            return FrameKind::Information;
        return (control & 0x03) == 0x01 ? FrameKind::Supervisory : FrameKind::Unnumbered;
    }
    // The control field without P/F: for S-frames the type (RR, RNR, REJ, SREJ), for
    // U-frames the command or response.
    std::uint8_t type() const {
        return kind() == FrameKind::Supervisory ? (control & 0x0F) : (control & ~kPfBit);
    }
    int nr() const { return control >> 5; }
    int ns() const { return (control >> 1) & 0x07; }
};

// Nothing when the frame is shorter than address and control.
std::optional<LapFrame> ParseLapFrame(const Bytes& frame);

Bytes MakeFrame(std::uint8_t connection, bool command, std::uint8_t control, const Bytes& info = {});
inline std::uint8_t IControl(int nr, int ns, bool pf) {
    return static_cast<std::uint8_t>((nr << 5) | (pf ? kPfBit : 0) | (ns << 1));
}
inline std::uint8_t SControl(std::uint8_t type, int nr, bool pf) {
    return static_cast<std::uint8_t>((nr << 5) | (pf ? kPfBit : 0) | type);
}

// --- discovery
// What a station tells about itself in discovery: hint bytes, character set, nickname.
// Built by push_back: GCC 12 takes a braced default member initialiser here for a read of
// uninitialised memory (-Wmaybe-uninitialized) wherever it is inlined.
inline std::vector<std::uint8_t> DefaultDiscoveryHints() {
    std::vector<std::uint8_t> hints;
    hints.push_back(static_cast<std::uint8_t>(kHintComputer | kHintExtension));
    hints.push_back(static_cast<std::uint8_t>(kHint2Obex));
    return hints;
}

struct DiscoveryInfo {
    std::vector<std::uint8_t> hints = DefaultDiscoveryHints();
    std::uint8_t charset = 0; // ASCII
    std::string nickname;
};

struct XidFrame {
    bool command = true;
    std::uint32_t source = 0;
    std::uint32_t destination = kBroadcastDevice;
    int slots = 6;         // 1, 6, 8 or 16
    int slot = 0;          // 0xFF: the final frame of a discovery
    std::optional<DiscoveryInfo> info;
};

inline constexpr int kFinalSlot = 0xFF;

Bytes EncodeXid(const XidFrame& xid);
std::optional<XidFrame> DecodeXid(const LapFrame& frame);

// --- negotiation
// Each field is a bit mask of the values a station accepts, as sent.
struct QosBits {
    std::uint16_t baud = 0x02;     // 0x02 9600 ... 0x20 115200
    std::uint8_t maxTurn = 0x01;   // 0x01 500 ms
    std::uint8_t dataSize = 0x3F;  // 0x01 64 ... 0x20 2048
    std::uint8_t window = 0x7F;    // 0x01 one frame ... 0x40 seven
    std::uint8_t addBofs = 0x80;   // 0x80 none
    std::uint8_t minTurn = 0x80;   // 0x80 none
    std::uint8_t linkDisc = 0x01;  // 0x01 3 s ... 0x80 40 s
};

// Bits for the speeds given (baud), the rest as our defaults.
std::uint16_t BaudBits(const std::vector<int>& speeds, int maxSpeed);

Bytes EncodeQos(const QosBits& qos);
// Reads the parameters after the fixed part of SNRM or UA; missing ones keep the
// defaults of the IrLAP rules (9600 baud, 500 ms, 64 bytes, window 1, 12 BOFs, 10 ms, 3 s).
QosBits DecodeQos(const std::uint8_t* data, std::size_t size);

// What one station uses once both sides' parameters are known.
struct LinkParams {
    int baud = kContactSpeed;
    std::chrono::milliseconds maxTurn{500};   // the longest a station holds the line
    std::size_t txDataSize = 64;   // the largest information field we may send
    int txWindow = 1;              // frames we may send in one turn
    int txExtraBofs = 10;          // extra BOFs before each frame we send
    std::chrono::microseconds peerMinTurn{10000}; // the wait before we answer the peer
    std::chrono::milliseconds linkDisconnect{3000};
    std::size_t rxDataSize = 64;   // what we announced we take
};

// Combines our bits with the peer's: speed and link-disconnect time as the highest both
// share; what we send from the peer's limits, cut to the line capacity at that speed.
// Nothing when the two share no speed.
std::optional<LinkParams> Negotiate(const QosBits& ours, const QosBits& peer);

// Bytes one turn may carry at baud within maxTurn (9600 baud, 500 ms: 400).
std::size_t LineCapacity(int baud, std::chrono::milliseconds maxTurn);

// SNRM: source, destination, new connection address, then the parameters.
struct SnrmInfo {
    std::uint32_t source = 0;
    std::uint32_t destination = 0;
    std::uint8_t connection = 0;
    QosBits qos;
};
Bytes EncodeSnrm(const SnrmInfo& snrm);
std::optional<SnrmInfo> DecodeSnrm(const LapFrame& frame);

// UA after SNRM: source, destination, parameters.
struct UaInfo {
    std::uint32_t source = 0;
    std::uint32_t destination = 0;
    QosBits qos;
};
Bytes EncodeUa(std::uint8_t connection, const UaInfo& ua);
std::optional<UaInfo> DecodeUa(const LapFrame& frame);

// The time bytes take on a SIR line at baud (ten bits a byte).
std::chrono::microseconds LineDuration(std::size_t bytes, int baud);

// A device address as "0x1a2b3c4d" for messages.
std::string DeviceAddressText(std::uint32_t address);

} // namespace dm::irda
