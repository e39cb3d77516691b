#pragma once
// The OBEX vocabulary both ends of a command push speak: the manager's push and the
// simulated dosimeter's server. Packets are an opcode or response code, a 16-bit
// big-endian length that counts the whole packet, then headers.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dm::obex {

// Request opcodes; the high bit marks the final packet of a request.
constexpr std::uint8_t kConnect = 0x80;
constexpr std::uint8_t kDisconnect = 0x81;
constexpr std::uint8_t kPut = 0x02;
constexpr std::uint8_t kPutFinal = 0x82;
constexpr std::uint8_t kGet = 0x03;
constexpr std::uint8_t kGetFinal = 0x83;
constexpr std::uint8_t kSetPath = 0x85;
constexpr std::uint8_t kAction = 0x06;
constexpr std::uint8_t kActionFinal = 0x86;
constexpr std::uint8_t kSession = 0x87;
constexpr std::uint8_t kAbort = 0xFF;

// Response codes, final bit included.
constexpr std::uint8_t kContinue = 0x90;
constexpr std::uint8_t kSuccess = 0xA0;
constexpr std::uint8_t kBadRequest = 0xC0;
constexpr std::uint8_t kEntityTooLarge = 0xCD;
constexpr std::uint8_t kNotImplemented = 0xD1;
constexpr std::uint8_t kFirstFailureCode = 0xC0; // this and above: the request failed

// Header ids. The top two bits say how the value is encoded.
constexpr std::uint8_t kHeaderName = 0x01;       // null-terminated 16-bit text
constexpr std::uint8_t kHeaderLength = 0xC3;     // four bytes
constexpr std::uint8_t kHeaderBody = 0x48;       // bytes
constexpr std::uint8_t kHeaderEndOfBody = 0x49;  // bytes, the last of the object
constexpr std::uint8_t kHeaderEncodingMask = 0xC0;
constexpr std::uint8_t kUnicodeHeader = 0x00; // 16-bit length follows the id
constexpr std::uint8_t kBytesHeader = 0x40;   // 16-bit length follows the id
constexpr std::uint8_t kByteHeader = 0x80;    // one byte of value
constexpr std::uint8_t kFourByteHeader = 0xC0;

constexpr std::uint8_t kVersion10 = 0x10;
constexpr std::size_t kPacketHeaderSize = 3; // code and 16-bit length
constexpr std::size_t kConnectPacketSize = 7;

inline void AppendBe16(std::string& out, std::size_t value) {
    out += static_cast<char>((value >> 8) & 0xFF);
    out += static_cast<char>(value & 0xFF);
}

inline void AppendBe32(std::string& out, std::size_t value) {
    AppendBe16(out, (value >> 16) & 0xFFFF);
    AppendBe16(out, value & 0xFFFF);
}

inline std::uint16_t ReadBe16(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint16_t>((static_cast<unsigned char>(bytes[at]) << 8) |
                                      static_cast<unsigned char>(bytes[at + 1]));
}

inline std::uint32_t ReadBe32(std::string_view bytes, std::size_t at) {
    return (static_cast<std::uint32_t>(ReadBe16(bytes, at)) << 16) | ReadBe16(bytes, at + 2);
}

// The packet length the first three bytes announce; nothing when fewer bytes are given
// or the length is below 3, which no packet can be.
inline std::optional<std::size_t> PacketLength(std::string_view firstThreeBytes) {
    if (firstThreeBytes.size() < kPacketHeaderSize)
        return std::nullopt;
    const std::size_t length = ReadBe16(firstThreeBytes, 1);
    if (length < kPacketHeaderSize)
        return std::nullopt;
    return length;
}

// A packet of only a code and its length: a request without headers or a bare response.
inline std::string ShortPacket(std::uint8_t code) {
    return std::string{static_cast<char>(code), 0, static_cast<char>(kPacketHeaderSize)};
}

// A CONNECT request and its answer have one layout: code, length 7, version 1.0,
// no flags, and the largest packet the sender takes.
inline std::string ConnectPacket(std::uint8_t code, std::uint16_t maxPacket) {
    std::string p(1, static_cast<char>(code));
    AppendBe16(p, kConnectPacketSize);
    p += static_cast<char>(kVersion10);
    p += '\0';
    AppendBe16(p, maxPacket);
    return p;
}

} // namespace dm::obex
