#include "sim/obex_session.h"

#include "core/cp1251.h"

namespace dm {
namespace {

std::uint16_t Be16(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint16_t>((static_cast<unsigned char>(bytes[at]) << 8) |
                                      static_cast<unsigned char>(bytes[at + 1]));
}

std::uint32_t Be32(std::string_view bytes, std::size_t at) {
    return (static_cast<std::uint32_t>(Be16(bytes, at)) << 16) | Be16(bytes, at + 2);
}

// A Name header's value: 16-bit big-endian characters ending in a null character.
std::string DecodeUnicodeName(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i + 1 < value.size(); i += 2) {
        std::uint32_t unit = Be16(value, i);
        if (unit == 0)
            break;
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < value.size()) {
            const std::uint32_t low = Be16(value, i + 2);
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
    if (firstThreeBytes.size() < obex::kPacketHeaderSize)
        return std::nullopt;
    const std::size_t length = Be16(firstThreeBytes, 1);
    if (length < obex::kPacketHeaderSize)
        return std::nullopt;
    return length;
}

std::string ObexServerSession::ShortResponse(std::uint8_t code) {
    return std::string{static_cast<char>(code), 0, 3};
}

void ObexServerSession::resetPut() {
    putActive_ = false;
    putHadBody_ = false;
    put_ = ObexObject{};
}

ObexStep ObexServerSession::handlePacket(std::string_view packet) {
    if (packet.size() < obex::kPacketHeaderSize || Be16(packet, 1) != packet.size())
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
    case 0x03: // GET
    case 0x83:
    case 0x85: // SETPATH
    case 0x06: // ACTION
    case 0x86:
    case 0x87: // SESSION
        resetPut();
        return {ShortResponse(obex::kNotImplemented), false, std::nullopt};
    default:
        resetPut();
        return {ShortResponse(obex::kBadRequest), false, std::nullopt};
    }
}

ObexStep ObexServerSession::handleConnect(std::string_view packet) {
    resetPut();
    if (packet.size() < 7)
        return {ShortResponse(obex::kBadRequest), false, std::nullopt};
    // Version 1.0, no flags, and the largest packet we take.
    std::string response{
        static_cast<char>(obex::kSuccess),   0, 7, 0x10, 0, static_cast<char>(maxPacket_ >> 8),
        static_cast<char>(maxPacket_ & 0xFF)};
    return {response, false, std::nullopt};
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
        switch (id & 0xC0) {
        case 0x00: // Unicode text with a 16-bit length
        case 0x40: // byte sequence with a 16-bit length
            if (at + 3 > packet.size()) {
                resetPut();
                return {ShortResponse(obex::kBadRequest), false, std::nullopt};
            }
            size = Be16(packet, at + 1);
            break;
        case 0x80:
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
            put_.declaredLength = Be32(value, 0);
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
