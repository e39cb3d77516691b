#include "link/irda/irlap_frame.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace dm::irda {
namespace {

// Parameter identifiers of SNRM and UA.
constexpr std::uint8_t kPiBaud = 0x01;
constexpr std::uint8_t kPiMaxTurn = 0x82;
constexpr std::uint8_t kPiDataSize = 0x83;
constexpr std::uint8_t kPiWindow = 0x84;
constexpr std::uint8_t kPiAddBofs = 0x85;
constexpr std::uint8_t kPiMinTurn = 0x86;
constexpr std::uint8_t kPiLinkDisc = 0x08;

constexpr std::array<int, 10> kBauds{2400, 9600, 19200, 38400, 57600, 115200, 576000, 1152000, 4000000, 16000000};
constexpr std::array<int, 4> kMaxTurnMs{500, 250, 100, 50};
constexpr std::array<int, 6> kDataSizes{64, 128, 256, 512, 1 << 10, 2048};
constexpr std::array<int, 8> kAddBofs{48, 24, 12, 5, 3, 2, 1, 0};
constexpr std::array<int, 8> kMinTurnUs{10000, 5000, 1000, 500, 100, 50, 10, 0};
constexpr std::array<int, 8> kLinkDiscS{3, 8, 12, 16, 20, 25, 30, 40};

// The highest bit set within the table's range; -1 when none.
int HighestBit(unsigned bits, std::size_t count) {
    for (int i = static_cast<int>(count) - 1; i >= 0; --i)
        if (bits & (1u << i))
            return i;
    return -1;
}

void PutLe32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint32_t GetLe32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

int SlotCount(std::uint8_t code) {
    switch (code & 0x03) {
    case 0: return 1;
    case 1: return 6;
    case 2: return 8;
    default: return 16;
    }
}

std::uint8_t SlotCode(int slots) {
    if (slots <= 1) return 0;
    if (slots <= 6) return 1;
    if (slots <= 8) return 2;
    return 3;
}

} // namespace

std::optional<LapFrame> ParseLapFrame(const Bytes& frame) {
    if (frame.size() < 2)
        return std::nullopt;
    LapFrame f;
    f.connection = frame[0] >> 1;
    f.command = (frame[0] & kCommandBit) != 0;
    f.control = frame[1];
    f.info.assign(frame.begin() + 2, frame.end());
    return f;
}

Bytes MakeFrame(std::uint8_t connection, bool command, std::uint8_t control, const Bytes& info) {
    Bytes out;
    out.reserve(2 + info.size());
    out.push_back(static_cast<std::uint8_t>(connection << 1 | (command ? kCommandBit : 0)));
    out.push_back(control);
    out.insert(out.end(), info.begin(), info.end());
    return out;
}

Bytes EncodeXid(const XidFrame& xid) {
    Bytes info;
    info.push_back(0x01); // format identifier
    PutLe32(info, xid.source);
    PutLe32(info, xid.destination);
    info.push_back(SlotCode(xid.slots));
    info.push_back(static_cast<std::uint8_t>(xid.slot));
    info.push_back(0x00); // version
    if (xid.info) {
        for (std::size_t i = 0; i < xid.info->hints.size(); ++i) {
            std::uint8_t h = xid.info->hints[i];
            // Each hint byte but the last says another one follows.
            h = (i + 1 < xid.info->hints.size()) ? (h | kHintExtension) : (h & ~kHintExtension);
            info.push_back(h);
        }
        info.push_back(xid.info->charset);
        // Discovery information is at most 32 bytes in all.
        const std::size_t room = 32 - xid.info->hints.size() - 1;
        const std::size_t n = std::min(room, xid.info->nickname.size());
        info.insert(info.end(), xid.info->nickname.begin(), xid.info->nickname.begin() + static_cast<long>(n));
    }
    return MakeFrame(kBroadcastAddress, xid.command,
                     static_cast<std::uint8_t>((xid.command ? kXidCommand : kXidResponse) | kPfBit), info);
}

std::optional<XidFrame> DecodeXid(const LapFrame& frame) {
    const std::uint8_t type = frame.type();
    if (frame.kind() != FrameKind::Unnumbered || (type != kXidCommand && type != kXidResponse))
        return std::nullopt;
    const Bytes& b = frame.info;
    if (b.size() < 12 || b[0] != 0x01)
        return std::nullopt;
    XidFrame x;
    x.command = type == kXidCommand;
    x.source = GetLe32(&b[1]);
    x.destination = GetLe32(&b[5]);
    x.slots = SlotCount(b[9]);
    x.slot = b[10];
    if (b.size() > 12) {
        DiscoveryInfo info;
        info.hints.clear();
        std::size_t at = 12;
        while (at < b.size()) {
            info.hints.push_back(b[at]);
            if (!(b[at++] & kHintExtension) || info.hints.size() >= 4)
                break;
        }
        if (at < b.size()) {
            info.charset = b[at++];
            info.nickname.assign(b.begin() + static_cast<long>(at), b.end());
        }
        x.info = std::move(info);
    }
    return x;
}

std::uint16_t BaudBits(const std::vector<int>& speeds, int maxSpeed) {
    std::uint16_t bits = 0;
    for (std::size_t i = 0; i < kBauds.size(); ++i)
        if (kBauds[i] <= maxSpeed && std::find(speeds.begin(), speeds.end(), kBauds[i]) != speeds.end())
            bits |= static_cast<std::uint16_t>(1u << i);
    return static_cast<std::uint16_t>(bits | 0x02); // 9600 always
}

Bytes EncodeQos(const QosBits& q) {
    Bytes out;
    auto put = [&](std::uint8_t id, std::uint8_t v) {
        out.push_back(id);
        out.push_back(1);
        out.push_back(v);
    };
    if (q.baud > 0xFF) {
        out.push_back(kPiBaud);
        out.push_back(2);
        out.push_back(static_cast<std::uint8_t>(q.baud & 0xFF));
        out.push_back(static_cast<std::uint8_t>(q.baud >> 8));
    } else {
        put(kPiBaud, static_cast<std::uint8_t>(q.baud));
    }
    put(kPiMaxTurn, q.maxTurn);
    put(kPiDataSize, q.dataSize);
    put(kPiWindow, q.window);
    put(kPiAddBofs, q.addBofs);
    put(kPiMinTurn, q.minTurn);
    put(kPiLinkDisc, q.linkDisc);
    return out;
}

QosBits DecodeQos(const std::uint8_t* data, std::size_t size) {
    // What a station means by leaving a parameter out.
    QosBits q;
    q.baud = 0x02;
    q.maxTurn = 0x01;
    q.dataSize = 0x01;
    q.window = 0x01;
    q.addBofs = 0x04;
    q.minTurn = 0x01;
    q.linkDisc = 0x01;
    std::size_t at = 0;
    while (at + 2 <= size) {
        const std::uint8_t id = data[at];
        const std::size_t len = data[at + 1];
        if (at + 2 + len > size)
            break;
        const std::uint8_t* v = data + at + 2;
        // A zero mask would leave nothing to agree on: kept at the default.
        if (len >= 1 && v[0] != 0) {
            switch (id) {
            case kPiBaud: q.baud = static_cast<std::uint16_t>(v[0] | (len >= 2 ? v[1] << 8 : 0)); break;
            case kPiMaxTurn: q.maxTurn = v[0]; break;
            case kPiDataSize: q.dataSize = v[0]; break;
            case kPiWindow: q.window = v[0]; break;
            case kPiAddBofs: q.addBofs = v[0]; break;
            case kPiMinTurn: q.minTurn = v[0]; break;
            case kPiLinkDisc: q.linkDisc = v[0]; break;
            default: break;
            }
        }
        at += 2 + len;
    }
    return q;
}

std::size_t LineCapacity(int baud, std::chrono::milliseconds maxTurn) {
    // Bytes the line carries in the turn, less a margin for the turnaround and flags
    // (9600 baud and 500 ms: 400 of 480).
    const double bytes = baud / 10.0 * static_cast<double>(maxTurn.count()) / 1000.0;
    return static_cast<std::size_t>(bytes * 5 / 6);
}

std::optional<LinkParams> Negotiate(const QosBits& ours, const QosBits& peer) {
    const unsigned shared = ours.baud & peer.baud;
    const int baudIndex = HighestBit(shared, kBauds.size());
    if (baudIndex < 0)
        return std::nullopt;
    LinkParams p;
    p.baud = kBauds[static_cast<std::size_t>(baudIndex)];
    // The link-disconnect time both can live with: the longest both offer.
    const int disc = HighestBit(ours.linkDisc & peer.linkDisc, kLinkDiscS.size());
    p.linkDisconnect = std::chrono::milliseconds(1000 * kLinkDiscS[static_cast<std::size_t>(disc < 0 ? 0 : disc)]);
    // Each receiver's own limits bound what the other sends: the longest turn it allows
    // the largest frames and window it takes, its extra BOFs and its minimum turnaround.
    // A station that offers several keeps the shortest turn it offers.
    int turn = 0;
    for (std::size_t i = 0; i < kMaxTurnMs.size(); ++i)
        if (peer.maxTurn & (1u << i)) {
            turn = static_cast<int>(i);
            break;
        }
    p.maxTurn = std::chrono::milliseconds(kMaxTurnMs[static_cast<std::size_t>(turn)]);
    const int dataIndex = std::max(0, HighestBit(peer.dataSize, kDataSizes.size()));
    const int windowIndex = std::max(0, HighestBit(peer.window, 7));
    const int bofIndex = std::max(0, HighestBit(peer.addBofs, kAddBofs.size()));
    const int minTurnIndex = std::max(0, HighestBit(peer.minTurn, kMinTurnUs.size()));
    const int ourDataIndex = std::max(0, HighestBit(ours.dataSize, kDataSizes.size()));
    p.rxDataSize = static_cast<std::size_t>(kDataSizes[static_cast<std::size_t>(ourDataIndex)]);
    // Extra BOFs are given for 115200 baud; a slower line needs proportionally fewer.
    p.txExtraBofs = kAddBofs[static_cast<std::size_t>(bofIndex)] * p.baud / 115200;
    p.peerMinTurn = std::chrono::microseconds(kMinTurnUs[static_cast<std::size_t>(minTurnIndex)]);

    // The line-capacity rule: data size first down to what one turn carries, then the
    // window down to what the turn carries of such frames, then the data size again.
    const std::size_t capacity = LineCapacity(p.baud, p.maxTurn);
    int di = dataIndex;
    while (di > 0 && static_cast<std::size_t>(kDataSizes[static_cast<std::size_t>(di)]) > capacity)
        --di;
    int window = windowIndex + 1;
    const std::size_t minTurnBytes =
        static_cast<std::size_t>(static_cast<long long>(p.baud) / 10 * p.peerMinTurn.count() / 1000000);
    auto requested = [&] {
        return static_cast<std::size_t>(window) *
                   (static_cast<std::size_t>(kDataSizes[static_cast<std::size_t>(di)]) + 6 +
                    static_cast<std::size_t>(p.txExtraBofs)) +
               minTurnBytes;
    };
    while (requested() > capacity) {
        if (window > 1)
            --window;
        else if (di > 0)
            --di;
        else
            break;
    }
    p.txDataSize = static_cast<std::size_t>(kDataSizes[static_cast<std::size_t>(di)]);
    p.txWindow = window;
    return p;
}

Bytes EncodeSnrm(const SnrmInfo& s) {
    Bytes info;
    PutLe32(info, s.source);
    PutLe32(info, s.destination);
    info.push_back(static_cast<std::uint8_t>(s.connection << 1));
    const Bytes q = EncodeQos(s.qos);
    info.insert(info.end(), q.begin(), q.end());
    return MakeFrame(kBroadcastAddress, true, kSnrm | kPfBit, info);
}

std::optional<SnrmInfo> DecodeSnrm(const LapFrame& f) {
    if (f.kind() != FrameKind::Unnumbered || f.type() != kSnrm || !f.command || f.info.size() < 9)
        return std::nullopt;
    SnrmInfo s;
    s.source = GetLe32(&f.info[0]);
    s.destination = GetLe32(&f.info[4]);
    s.connection = f.info[8] >> 1;
    s.qos = DecodeQos(f.info.data() + 9, f.info.size() - 9);
    return s;
}

Bytes EncodeUa(std::uint8_t connection, const UaInfo& ua) {
    Bytes info;
    PutLe32(info, ua.source);
    PutLe32(info, ua.destination);
    const Bytes q = EncodeQos(ua.qos);
    info.insert(info.end(), q.begin(), q.end());
    return MakeFrame(connection, false, kUa | kPfBit, info);
}

std::optional<UaInfo> DecodeUa(const LapFrame& f) {
    if (f.kind() != FrameKind::Unnumbered || f.type() != kUa || f.command || f.info.size() < 8)
        return std::nullopt;
    UaInfo u;
    u.source = GetLe32(&f.info[0]);
    u.destination = GetLe32(&f.info[4]);
    u.qos = DecodeQos(f.info.data() + 8, f.info.size() - 8);
    return u;
}

std::chrono::microseconds LineDuration(std::size_t bytes, int baud) {
    return std::chrono::microseconds(static_cast<long long>(bytes) * 10 * 1000000 / std::max(baud, 1));
}

std::string DeviceAddressText(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", address);
    return text;
}

} // namespace dm::irda
