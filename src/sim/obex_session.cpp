#include "sim/obex_session.h"

#include "core/cp1251.h"

namespace dm {
namespace {

using obex::ReadBe16;

// A Name header's value: 16-bit big-endian characters ending in a null character.
std::string DecodeUnicodeName(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i + 1 < value.size(); i += 2) {
        std::uint32_t unit = ReadBe16(value, i);
        if (unit == 0)
            break;
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < value.size()) {
            const std::uint32_t low = ReadBe16(value, i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        AppendUtf8(out, unit);
    }
    return out;
}

} // namespace

ObexServerSession::ObexServerSession(std::uint16_t maxPacket, std::size_t maxBody)
    : maxPacket_(maxPacket < 255 ? 255 : maxPacket), maxBody_(maxBody) {}

std::optional<std::size_t> ObexServerSession::PacketLength(std::string_view firstThreeBytes) {
    return obex::PacketLength(firstThreeBytes);
}

std::string ObexServerSession::ShortResponse(std::uint8_t code) { return obex::ShortPacket(code); }

void ObexServerSession::resetPut() {
    putActive_ = false;
    putHadBody_ = false;
    put_ = ObexObject{};
}

ObexStep ObexServerSession::handlePacket(std::string_view packet) {
    if (packet.size() < obex::kPacketHeaderSize || ReadBe16(packet, 1) != packet.size())
        return {ShortResponse(obex::kBadRequest), true, std::nullopt};
    const auto opcode = static_cast<std::uint8_t>(packet[0]);
    switch (opcode) {
    case obex::kConnect:
        return handleConnect(packet);
    case obex::kDisconnect:
        resetPut();
        return {ShortResponse(obex::kSuccess), true, std::nullopt};
    case obex::kPut:
        return handlePut(packet, false);
    case obex::kPutFinal:
        return handlePut(packet, true);
    case obex::kAbort:
        resetPut();
        return {ShortResponse(obex::kSuccess), false, std::nullopt};
    case obex::kGet:
    case obex::kGetFinal:
    case obex::kSetPath:
    case obex::kAction:
    case obex::kActionFinal:
    case obex::kSession:
        resetPut();
        return {ShortResponse(obex::kNotImplemented), false, std::nullopt};
    default:
        resetPut();
        return {ShortResponse(obex::kBadRequest), false, std::nullopt};
    }
}

ObexStep ObexServerSession::handleConnect(std::string_view packet) {
    resetPut();
    if (packet.size() < obex::kConnectPacketSize)
        return {ShortResponse(obex::kBadRequest), false, std::nullopt};
    return {obex::ConnectPacket(obex::kSuccess, maxPacket_), false, std::nullopt};
}

ObexStep ObexServerSession::handlePut(std::string_view packet, bool final) {
    if (!putActive_) {
        resetPut();
        putActive_ = true;
    }
    std::size_t at = obex::kPacketHeaderSize;
    while (at < packet.size()) {
        const auto id = static_cast<std::uint8_t>(packet[at]);
        std::size_t size = 0;
        switch (id & obex::kHeaderEncodingMask) {
        case obex::kUnicodeHeader:
        case obex::kBytesHeader:
            if (at + 3 > packet.size()) {
                resetPut();
                return {ShortResponse(obex::kBadRequest), false, std::nullopt};
            }
            size = ReadBe16(packet, at + 1);
            break;
        case obex::kByteHeader:
            size = 2;
            break;
        default:
            size = 5;
            break;
        }
        if (size < ((id & 0x80) ? 2u : 3u) || at + size > packet.size()) {
            resetPut();
            return {ShortResponse(obex::kBadRequest), false, std::nullopt};
        }
        const std::string_view value =
            (id & 0x80) ? packet.substr(at + 1, size - 1) : packet.substr(at + 3, size - 3);
        switch (id) {
        case obex::kHeaderName:
            put_.name = DecodeUnicodeName(value);
            break;
        case obex::kHeaderLength:
            put_.declaredLength = obex::ReadBe32(value, 0);
            break;
        case obex::kHeaderBody:
        case obex::kHeaderEndOfBody:
            if (put_.body.size() + value.size() > maxBody_) {
                resetPut();
                return {ShortResponse(obex::kEntityTooLarge), true, std::nullopt};
            }
            put_.body.append(value);
            putHadBody_ = true;
            break;
        default:
            break; // Type, Time, Connection-Id and the like tell us nothing we need
        }
        at += size;
    }
    if (!final)
        return {ShortResponse(obex::kContinue), false, std::nullopt};
    ObexStep step{ShortResponse(obex::kSuccess), false, std::nullopt};
    // A final PUT without any body is a delete request: nothing to act on.
    if (putHadBody_)
        step.received = std::move(put_);
    resetPut();
    return step;
}

} // namespace dm
